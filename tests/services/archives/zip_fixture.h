// ZIP archives made byte by byte, so that a test can say exactly what an
// entry claims: any name bytes, flags, sizes, CRC, time fields and data.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace archive_fixture {

struct Entry {
    std::string name;  // the stored name bytes
    std::string data;  // what the entry holds, before compression
    bool deflate = false;
    uint16_t flags = 0;  // general purpose bits (0x0800: UTF-8 name)
    // What the headers claim instead of the truth, when set.
    std::optional<uint32_t> claimed_crc;
    std::optional<uint32_t> claimed_size;
    uint16_t dos_time = 0;       // hour << 11 | minute << 5 | second / 2
    uint16_t dos_date = 0x21;    // (year - 1980) << 9 | month << 5 | day: 1980-01-01
    std::vector<uint8_t> extra;  // extra fields, in both headers
    // The entry's stored bytes instead of `data` (deflated when asked).
    std::optional<std::string> stored;
};

inline void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// Raw deflate data of `data`.
inline std::string deflated(const std::string& data) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// The extended timestamp field with only the last-write time.
inline std::vector<uint8_t> extended_time(uint32_t unix_seconds) {
    std::vector<uint8_t> out;
    put16(out, 0x5455);
    put16(out, 5);
    out.push_back(1);
    put32(out, unix_seconds);
    return out;
}

inline std::vector<uint8_t> build(const std::vector<Entry>& entries) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> directory;
    for (const Entry& e : entries) {
        const std::string stored = e.stored.value_or(e.deflate ? deflated(e.data) : e.data);
        const uint32_t crc = e.claimed_crc.value_or(static_cast<uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()))));
        const uint32_t size = e.claimed_size.value_or(static_cast<uint32_t>(e.data.size()));
        const uint32_t offset = static_cast<uint32_t>(out.size());
        // Local header.
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, e.flags);
        put16(out, e.deflate ? 8 : 0);
        put16(out, e.dos_time);
        put16(out, e.dos_date);
        put32(out, crc);
        put32(out, static_cast<uint32_t>(stored.size()));
        put32(out, size);
        put16(out, static_cast<uint32_t>(e.name.size()));
        put16(out, static_cast<uint32_t>(e.extra.size()));
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), e.extra.begin(), e.extra.end());
        out.insert(out.end(), stored.begin(), stored.end());
        // Central directory entry.
        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, e.flags);
        put16(directory, e.deflate ? 8 : 0);
        put16(directory, e.dos_time);
        put16(directory, e.dos_date);
        put32(directory, crc);
        put32(directory, static_cast<uint32_t>(stored.size()));
        put32(directory, size);
        put16(directory, static_cast<uint32_t>(e.name.size()));
        put16(directory, static_cast<uint32_t>(e.extra.size()));
        put16(directory, 0);  // comment
        put16(directory, 0);  // disk
        put16(directory, 0);  // internal attributes
        put32(directory, 0);  // external attributes
        put32(directory, offset);
        directory.insert(directory.end(), e.name.begin(), e.name.end());
        directory.insert(directory.end(), e.extra.begin(), e.extra.end());
    }
    const uint32_t directory_offset = static_cast<uint32_t>(out.size());
    out.insert(out.end(), directory.begin(), directory.end());
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(entries.size()));
    put16(out, static_cast<uint32_t>(entries.size()));
    put32(out, static_cast<uint32_t>(directory.size()));
    put32(out, directory_offset);
    put16(out, 0);
    return out;
}

}  // namespace archive_fixture
