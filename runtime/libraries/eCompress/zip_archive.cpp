#include "runtime/libraries/eCompress/zip_archive.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include <array>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "base/byte_reader.h"
#include "base/encoding.h"
#include "base/gbk.h"
#include "runtime/libraries/eCompress/system.h"

namespace ecompress {

namespace {

constexpr size_t kChunk = 64 * 1024;
// Entries up to this size are written without the ZIP64 fields, which older
// readers do not know; deflate may add a little to incompressible data.
constexpr uint64_t kZip64Threshold = 0xF0000000u;
// General purpose flag bits of an entry.
constexpr uLong kFlagEncrypted = 0x0001;
constexpr uLong kFlagUtf8Name = 0x0800;

// The extended timestamp extra field (header 0x5455) as packing writes it,
// the same in the local header and the central directory: the last-write
// time alone.
struct ExtendedTimestampField {
    uint16_t header_id;   // 0x5455
    uint16_t data_size;   // 5: the flags byte and one time
    uint8_t flags;        // bit 0: the last-write time is present
    uint32_t last_write;  // seconds since 1970-01-01 00:00:00 UTC
};
constexpr uint16_t kExtendedTimestampId = 0x5455;
constexpr uint8_t kExtendedTimestampHasLastWrite = 0x01;
constexpr size_t kExtendedTimestampSize = 9;  // as stored, without padding

std::array<uint8_t, kExtendedTimestampSize> store(const ExtendedTimestampField& field) {
    std::array<uint8_t, kExtendedTimestampSize> bytes{};
    base::store_le16(bytes.data(), field.header_id);
    base::store_le16(bytes.data() + 2, field.data_size);
    bytes[4] = field.flags;
    base::store_le32(bytes.data() + 5, field.last_write);
    return bytes;
}

// The last-write time of an extended timestamp field among an entry's extra
// fields (a sequence of: u16 header id, u16 data size, data), if one is there
// and well formed. In a central directory entry the field holds at most the
// last-write time, right after the flags.
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

base::Failure<Problem> problem(std::string_view entry, std::string why) {
    return base::fail(Problem{std::string(entry), std::move(why)});
}

bool is_device_name(std::string_view name) {
    const std::string_view stem = name.substr(0, name.find('.'));
    std::string upper;
    for (char c : stem)
        upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL")
        return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '1' && upper[3] <= '9';
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

struct UnzipCloser {
    void operator()(void* file) const { unzClose(file); }
};
using UnzipHandle = std::unique_ptr<void, UnzipCloser>;

// One entry to write, as the central directory gives it.
struct PlannedEntry {
    std::string name;  // GBK
    NativePath target;
    unz64_file_pos position{};
    uint64_t size = 0;
    int64_t last_write = 0;
};

Result<std::vector<PlannedEntry>> plan(unzFile zip, const NativePath& folder) {
    std::vector<PlannedEntry> entries;
    std::set<std::string> names;
    int status = unzGoToFirstFile(zip);
    while (status == UNZ_OK) {
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

        std::string name = raw;
        if ((info.flag & kFlagUtf8Name) != 0) {
            auto gbk = base::utf8_to_gbk(raw);
            if (!gbk)
                return problem(raw, "the name is not UTF-8 or has no GBK form");
            name = *gbk;
        }
        if (!is_plain_name(name))
            return problem(raw, "not a plain file name");
        if ((info.flag & kFlagEncrypted) != 0)
            return problem(raw, "encrypted");
        if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
            return problem(raw,
                           "compressed with method " + std::to_string(info.compression_method));
        if (!names.insert(fold_case(name)).second)
            return problem(raw, "the name comes twice");
        auto native_name = native_path(name);
        if (!native_name)
            return problem(raw, "not a plain file name");

        PlannedEntry entry;
        entry.name = name;
        entry.target = join(folder, *native_name);
        // A file cannot replace a folder: found now, nothing is written.
        if (is_folder(entry.target))
            return problem(raw, "a folder has this name");
        entry.size = info.uncompressed_size;
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
        entries.push_back(std::move(entry));
        status = unzGoToNextFile(zip);
    }
    if (status != UNZ_END_OF_LIST_OF_FILE)
        return problem("", "the central directory is damaged");
    return entries;
}

// Inflates one entry into a temporary file beside its target, never past
// the size that the directory declares.
Result<std::unique_ptr<PendingFile>> extract(unzFile zip, const PlannedEntry& entry) {
    if (unzGoToFilePos64(zip, &entry.position) != UNZ_OK || unzOpenCurrentFile(zip) != UNZ_OK)
        return problem(entry.name, "the entry cannot be read");
    auto pending = PendingFile::create_beside(entry.target);
    if (!pending) {
        unzCloseCurrentFile(zip);
        return problem(entry.name, "cannot write into the folder");
    }
    std::vector<uint8_t> buffer(kChunk);
    uint64_t total = 0;
    for (;;) {
        const int got =
            unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (got < 0) {
            unzCloseCurrentFile(zip);
            return problem(entry.name, "the data is damaged");
        }
        if (got == 0)
            break;
        total += static_cast<uint64_t>(got);
        if (total > entry.size) {
            unzCloseCurrentFile(zip);
            return problem(entry.name, "more data than its declared size");
        }
        if (!pending->write(buffer.data(), static_cast<size_t>(got))) {
            unzCloseCurrentFile(zip);
            return problem(entry.name, "cannot write into the folder");
        }
    }
    const int closed = unzCloseCurrentFile(zip);
    if (total != entry.size)
        return problem(entry.name, "less data than its declared size");
    if (closed == UNZ_CRCERROR)
        return problem(entry.name, "CRC mismatch");
    if (closed != UNZ_OK)
        return problem(entry.name, "the data is damaged");
    if (!pending->close() || !pending->set_last_write(entry.last_write))
        return problem(entry.name, "cannot write into the folder");
    return pending;
}

struct ZipCloser {
    void operator()(void* file) const { zipClose(file, nullptr); }
};
using ZipHandle = std::unique_ptr<void, ZipCloser>;

// The DOS time fields of a moment, clamped to what DOS times can hold.
tm_zip dos_time(int64_t last_write) {
    tm_zip out{};
    auto local = to_local_time(last_write);
    if (!local || local->year < 1980) {
        out.tm_year = 1980;
        out.tm_mon = 0;
        out.tm_mday = 1;
        return out;
    }
    if (local->year > 2107)
        local = LocalTime{2107, 12, 31, 23, 59, 58};
    out.tm_year = static_cast<uInt>(local->year);
    out.tm_mon = static_cast<uInt>(local->month - 1);
    out.tm_mday = static_cast<uInt>(local->day);
    out.tm_hour = static_cast<uInt>(local->hour);
    out.tm_min = static_cast<uInt>(local->minute);
    out.tm_sec = static_cast<uInt>(local->second);
    return out;
}

}  // namespace

std::string_view bare_name_of(std::string_view gbk_path) {
    size_t start = 0;
    base::for_each_gbk_char(gbk_path, [&](size_t offset, size_t length) {
        if (length == 1 && (gbk_path[offset] == '\\' || gbk_path[offset] == '/'))
            start = offset + 1;
    });
    return gbk_path.substr(start);
}

bool is_plain_name(std::string_view name) {
    if (name.size() > 255 || !base::is_bare_name(name))
        return false;
    bool ok = true;
    base::for_each_gbk_char(name, [&](size_t offset, size_t length) {
        const auto c = static_cast<unsigned char>(name[offset]);
        if (length == 2) {
            const auto trail = static_cast<unsigned char>(name[offset + 1]);
            if (trail < 0x40 || trail == 0x7F || trail == 0xFF)
                ok = false;
            return;
        }
        // A lone lead byte at the end, or bytes that begin no GBK character.
        if (c >= 0x80)
            ok = false;
        switch (c) {
            case 0x7F:
            case '<':
            case '>':
            case '"':
            case '|':
            case '?':
            case '*':
                ok = false;
        }
    });
    // Windows drops a final dot or space, which would make another name.
    const char last = name.back();
    return ok && last != '.' && last != ' ' && !is_device_name(name);
}

Result<void> pack_file(std::string_view file, std::string_view archive) {
    const std::string_view name = bare_name_of(file);
    if (!is_plain_name(name))
        return problem(name, "the file's name is not a plain name");
    auto native_file = native_path(file);
    auto native_archive = native_path(archive);
    if (!native_file || !native_archive || native_archive->empty())
        return problem(name, "the path is not GBK");
    auto facts = regular_file(*native_file);
    if (!facts)
        return problem(name, "no such file");
    auto input = InputFile::open(*native_file);
    if (!input)
        return problem(name, "the file cannot be read");
    auto pending = PendingFile::create_beside(*native_archive);
    if (!pending || !pending->close())
        return problem(name, "cannot write beside the archive");

    zlib_filefunc64_def functions;
    fill_file_functions(&functions);
    ZipHandle zip(zipOpen2_64(pending->path().c_str(), APPEND_STATUS_CREATE, nullptr, &functions));
    if (!zip)
        return problem(name, "cannot write beside the archive");
    zip_fileinfo info{};
    info.tmz_date = dos_time(facts->last_write);
    std::array<uint8_t, kExtendedTimestampSize> extra{};
    uInt extra_size = 0;
    if (facts->last_write >= 0 && facts->last_write <= INT64_C(0xFFFFFFFF)) {
        extra =
            store(ExtendedTimestampField{kExtendedTimestampId, 5, kExtendedTimestampHasLastWrite,
                                         static_cast<uint32_t>(facts->last_write)});
        extra_size = kExtendedTimestampSize;
    }
    const std::string entry_name(name);
    if (zipOpenNewFileInZip64(zip.get(), entry_name.c_str(), &info, extra.data(), extra_size,
                              extra.data(), extra_size, nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION,
                              facts->size >= kZip64Threshold ? 1 : 0) != ZIP_OK)
        return problem(name, "cannot write the archive");
    std::vector<uint8_t> buffer(kChunk);
    for (;;) {
        const int64_t got = input->read(buffer.data(), buffer.size());
        if (got < 0)
            return problem(name, "the file cannot be read");
        if (got == 0)
            break;
        if (zipWriteInFileInZip(zip.get(), buffer.data(), static_cast<unsigned>(got)) != ZIP_OK)
            return problem(name, "cannot write the archive");
    }
    if (zipCloseFileInZip(zip.get()) != ZIP_OK || zipClose(zip.release(), nullptr) != ZIP_OK)
        return problem(name, "cannot write the archive");
    if (!pending->commit())
        return problem(name, "cannot replace the archive");
    return {};
}

Result<void> unpack(std::string_view archive, std::string_view folder) {
    auto native_archive = native_path(archive);
    auto native_folder = native_path(folder);
    if (!native_archive || !native_folder || native_archive->empty() || native_folder->empty())
        return problem("", "the path is not GBK");
    if (!regular_file(*native_archive))
        return problem("", "no such archive");
    zlib_filefunc64_def functions;
    fill_file_functions(&functions);
    UnzipHandle zip(unzOpen2_64(native_archive->c_str(), &functions));
    if (!zip)
        return problem("", "not a ZIP archive");
    // Every entry is judged before anything is written.
    auto entries = TRY(plan(zip.get(), *native_folder));
    if (!make_folders(*native_folder))
        return problem("", "the folder cannot be made");
    std::vector<std::unique_ptr<PendingFile>> written;
    for (const PlannedEntry& entry : entries)
        written.push_back(TRY(extract(zip.get(), entry)));
    for (size_t i = 0; i < written.size(); ++i) {
        if (!written[i]->commit())
            return problem(entries[i].name, "cannot replace the file");
    }
    return {};
}

}  // namespace ecompress
