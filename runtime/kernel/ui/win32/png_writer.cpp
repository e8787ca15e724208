#include "runtime/kernel/ui/win32/png_writer.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace kernel::ui {

namespace {

uint32_t crc32(std::span<const uint8_t> bytes, uint32_t crc = 0) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (uint8_t byte : bytes)
        crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put_u32_be(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void put_chunk(std::vector<uint8_t>& out, std::string_view type, std::span<const uint8_t> data) {
    put_u32_be(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    put_u32_be(out, crc32(std::span(out).subspan(start)));
}

}  // namespace

std::vector<uint8_t> encode_png(uint32_t width, uint32_t height, std::span<const uint8_t> rgb) {
    // The raw scan lines: filter byte 0 (none), then the row's pixels.
    std::vector<uint8_t> raw;
    const size_t row = static_cast<size_t>(width) * 3;
    raw.reserve((row + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        const auto line = rgb.subspan(y * row, row);
        raw.insert(raw.end(), line.begin(), line.end());
    }

    // A zlib stream of stored blocks of at most 65535 bytes each.
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t length = std::min<size_t>(65535, raw.size() - at);
        const bool last = at + length == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(length));
        z.push_back(static_cast<uint8_t>(length >> 8));
        z.push_back(static_cast<uint8_t>(~length));
        z.push_back(static_cast<uint8_t>(~length >> 8));
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(at),
                 raw.begin() + static_cast<ptrdiff_t>(at + length));
        at += length;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put_u32_be(z, (b << 16) | a);

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put_u32_be(header, width);
    put_u32_be(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    put_chunk(out, "IHDR", header);
    put_chunk(out, "IDAT", z);
    put_chunk(out, "IEND", {});
    return out;
}

}  // namespace kernel::ui
