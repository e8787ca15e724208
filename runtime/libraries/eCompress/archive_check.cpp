#include "runtime/libraries/eCompress/archive_check.h"

#include <zlib.h>

#include <algorithm>
#include <optional>
#include <set>
#include <span>
#include <utility>

#include "base/byte_reader.h"
#include "base/encoding.h"
#include "base/gbk.h"
#include "runtime/libraries/eCompress/system.h"

namespace ecompress {

namespace {

constexpr size_t kChunk = 64 * 1024;
// General purpose flag bits of an entry.
constexpr uLong kFlagEncrypted = 0x0001;
constexpr uLong kFlagUtf8Name = 0x0800;
// Deflate gives at most 258 bytes for a length and distance pair of two
// bits, so no stream inflates past 1032 times its size; the constant covers
// the few bytes of a stream too short for blocks to count.
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr uint64_t kSmallStreamAllowance = 1032;

constexpr uint16_t kExtendedTimestampId = 0x5455;
constexpr uint8_t kExtendedTimestampHasLastWrite = 0x01;

base::Failure<Problem> problem(std::string_view entry, std::string why) {
    return base::fail(Problem{std::string(entry), std::move(why)});
}

// The last-write time of an extended timestamp field (header 0x5455: u8
// flags, then the times the flags name) among an entry's extra fields (a
// sequence of: u16 header id, u16 data size, data), if one is there and
// well formed.
std::optional<int64_t> extended_last_write(std::span<const uint8_t> extra) {
    const base::ByteView view(extra);
    size_t at = 0;
    while (view.has(at, 4)) {
        const uint16_t id = *view.u16(at);
        const uint16_t size = *view.u16(at + 2);
        auto data = view.slice(at + 4, size);
        if (!data)
            return std::nullopt;
        if (id == kExtendedTimestampId && size >= 5 &&
            ((*data)[0] & kExtendedTimestampHasLastWrite) != 0)
            return static_cast<int64_t>(base::load_le32(data->data() + 1));
        at += 4 + size;
    }
    return std::nullopt;
}

std::string fold_case(std::string_view name) {
    std::string folded;
    base::for_each_gbk_char(name, [&](size_t offset, size_t length) {
        char c = name[offset];
        if (length == 1 && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        folded += c;
        if (length == 2)
            folded += name[offset + 1];
    });
    return folded;
}

// The central directory entry at minizip's current position.
Result<CheckedEntry> directory_entry(unzFile zip) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return problem("", "the central directory is damaged");
    // One byte more than the name, for the zero that minizip puts behind it.
    std::string raw(info.size_filename + 1, '\0');
    std::vector<uint8_t> extra(info.size_file_extra);
    if (unzGetCurrentFileInfo64(zip, &info, raw.data(), static_cast<uLong>(raw.size()),
                                extra.empty() ? nullptr : extra.data(),
                                static_cast<uLong>(extra.size()), nullptr, 0) != UNZ_OK)
        return problem("", "the central directory is damaged");
    raw.resize(info.size_filename);

    CheckedEntry entry;
    entry.stored_name = raw;
    entry.name = raw;
    if ((info.flag & kFlagUtf8Name) != 0) {
        auto gbk = base::utf8_to_gbk(raw);
        if (!gbk)
            return problem(raw, "the name is not UTF-8 or has no GBK form");
        entry.name = *gbk;
    }
    if (!is_plain_name(entry.name))
        return problem(raw, "not a plain file name");
    if ((info.flag & kFlagEncrypted) != 0)
        return problem(raw, "encrypted");
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
        return problem(raw, "compressed with method " + std::to_string(info.compression_method));
    entry.deflated = info.compression_method == Z_DEFLATED;
    entry.stored_size = info.compressed_size;
    entry.size = info.uncompressed_size;
    entry.crc = static_cast<uint32_t>(info.crc);
    if (!entry.deflated && entry.size != entry.stored_size)
        return problem(raw, entry.size < entry.stored_size ? "more data than its declared size"
                                                           : "less data than its declared size");
    if (entry.deflated && entry.stored_size < UINT64_MAX / kMaxDeflateRatio - 1 &&
        entry.size > entry.stored_size * kMaxDeflateRatio + kSmallStreamAllowance)
        return problem(raw, "its declared size is more than its data can hold");
    if (unzGetFilePos64(zip, &entry.position) != UNZ_OK)
        return problem(raw, "the central directory is damaged");
    if (auto time = extended_last_write(extra)) {
        entry.last_write = *time;
    } else {
        const LocalTime dos{
            static_cast<int>(info.tmu_date.tm_year), static_cast<int>(info.tmu_date.tm_mon) + 1,
            static_cast<int>(info.tmu_date.tm_mday), static_cast<int>(info.tmu_date.tm_hour),
            static_cast<int>(info.tmu_date.tm_min),  static_cast<int>(info.tmu_date.tm_sec)};
        auto time_from_dos = from_local_time(dos);
        if (!time_from_dos)
            return problem(raw, "the DOS time is not a time");
        entry.last_write = *time_from_dos;
    }
    return entry;
}

// Inflates raw deflate data as it comes, never past `limit` bytes.
class Inflater {
  public:
    Inflater() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ok_)
            inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool ready() const { return ok_; }
    bool ended() const { return ended_; }

    enum class Step { more, too_much, damaged, write_failed };
    // Feeds `size` bytes; every byte inflated goes to `sink`, and `total`
    // counts them. Input after the stream's end is damage.
    Step feed(const uint8_t* data, size_t size, uint64_t limit, uint64_t& total,
              std::vector<uint8_t>& out, const EntrySink& sink) {
        if (ended_)
            return size == 0 ? Step::more : Step::damaged;
        stream_.next_in = const_cast<Bytef*>(data);
        stream_.avail_in = static_cast<uInt>(size);
        do {
            stream_.next_out = out.data();
            stream_.avail_out = static_cast<uInt>(out.size());
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return Step::damaged;
            const size_t produced = out.size() - stream_.avail_out;
            if (produced > limit - total)
                return Step::too_much;
            total += produced;
            if (produced > 0 && !sink(out.data(), produced))
                return Step::write_failed;
            if (status == Z_STREAM_END) {
                ended_ = true;
                return stream_.avail_in == 0 ? Step::more : Step::damaged;
            }
            if (status == Z_BUF_ERROR && stream_.avail_in == 0)
                return Step::more;
        } while (stream_.avail_in > 0 || stream_.avail_out == 0);
        return Step::more;
    }

  private:
    z_stream stream_{};
    bool ok_ = false;
    bool ended_ = false;
};

// Where the entry's stored bytes start: after its local header, which
// minizip reads and checks against the directory when it opens the entry
// for its stored bytes as they are.
Result<uint64_t> data_offset(unzFile zip, const CheckedEntry& entry) {
    int method = 0;
    int level = 0;
    if (unzGoToFilePos64(zip, &entry.position) != UNZ_OK ||
        unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK)
        return problem(entry.name, "the entry cannot be read");
    const uint64_t start = unzGetCurrentFileZStreamPos64(zip);
    unzCloseCurrentFile(zip);
    return start;
}

}  // namespace

Result<std::vector<CheckedEntry>> check_archive(unzFile zip, uint64_t archive_size,
                                                const ArchiveLimits& limits) {
    std::vector<CheckedEntry> entries;
    std::set<std::string> names;
    uint64_t total = 0;
    int status = unzGoToFirstFile(zip);
    while (status == UNZ_OK) {
        if (entries.size() >= limits.max_entries)
            return problem("", "more than " + std::to_string(limits.max_entries) + " entries");
        CheckedEntry entry = TRY(directory_entry(zip));
        if (!names.insert(fold_case(entry.name)).second)
            return problem(entry.stored_name, "the name comes twice");
        if (entry.size > limits.max_total_size - total)
            return problem(entry.stored_name, "the entries hold more than " +
                                                  std::to_string(limits.max_total_size) +
                                                  " bytes in all");
        total += entry.size;
        entries.push_back(std::move(entry));
        status = unzGoToNextFile(zip);
    }
    if (status != UNZ_END_OF_LIST_OF_FILE)
        return problem("", "the central directory is damaged");

    // Where each entry's data lies, before any of it is inflated: entries
    // that share their data would inflate it once per entry.
    struct Extent {
        uint64_t start, end;
        size_t entry;
    };
    std::vector<Extent> extents;
    for (size_t i = 0; i < entries.size(); ++i) {
        CheckedEntry& entry = entries[i];
        const uint64_t start = TRY(data_offset(zip, entry));
        entry.data_offset = start;
        if (start > archive_size || entry.stored_size > archive_size - start)
            return problem(entry.name, "its data lies outside the archive");
        if (entry.stored_size > 0)
            extents.push_back({start, start + entry.stored_size, i});
    }
    std::sort(extents.begin(), extents.end(),
              [](const Extent& a, const Extent& b) { return a.start < b.start; });
    for (size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].start < extents[i - 1].end)
            return problem(entries[extents[i].entry].name, "its data overlaps another entry's");
    }
    return entries;
}

Result<void> read_entry(const ArchiveSource& archive, const CheckedEntry& entry,
                        const EntrySink& sink) {
    if (entry.data_offset > archive.size() ||
        entry.stored_size > archive.size() - entry.data_offset)
        return problem(entry.name, "its data lies outside the archive");
    const std::span<const uint8_t> memory = archive.in_memory();
    std::vector<uint8_t> in(memory.empty() ? kChunk : 0);
    std::vector<uint8_t> out(entry.deflated ? kChunk : 0);
    Inflater inflater;
    if (entry.deflated && !inflater.ready())
        return problem(entry.name, "the data cannot be inflated");
    uint64_t total = 0;
    uint32_t crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    const EntrySink counted = [&](const uint8_t* data, size_t size) {
        crc = static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
        return sink(data, size);
    };
    for (uint64_t done = 0; done < entry.stored_size;) {
        const auto size = static_cast<size_t>(std::min<uint64_t>(kChunk, entry.stored_size - done));
        const uint8_t* data = nullptr;
        if (!memory.empty()) {
            data = memory.data() + entry.data_offset + done;
        } else {
            if (!archive.read_at(entry.data_offset + done, in.data(), size))
                return problem(entry.name, "the data is damaged");
            data = in.data();
        }
        done += size;
        if (!entry.deflated) {
            if (size > entry.size - total)
                return problem(entry.name, "more data than its declared size");
            total += size;
            if (!counted(data, size))
                return problem(entry.name, "cannot write into the folder");
            continue;
        }
        switch (inflater.feed(data, size, entry.size, total, out, counted)) {
            case Inflater::Step::more:
                break;
            case Inflater::Step::too_much:
                return problem(entry.name, "more data than its declared size");
            case Inflater::Step::damaged:
                return problem(entry.name, "the data is damaged");
            case Inflater::Step::write_failed:
                return problem(entry.name, "cannot write into the folder");
        }
    }
    // Some writers give an empty file no stream at all.
    const bool empty = entry.stored_size == 0 && entry.size == 0;
    if (entry.deflated && !inflater.ended() && !empty)
        return problem(entry.name, total < entry.size ? "less data than its declared size"
                                                      : "the data is damaged");
    if (total != entry.size)
        return problem(entry.name, "less data than its declared size");
    if (crc != entry.crc)
        return problem(entry.name, "CRC mismatch");
    return {};
}

}  // namespace ecompress
