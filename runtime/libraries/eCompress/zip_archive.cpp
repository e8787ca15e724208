#include "runtime/libraries/eCompress/zip_archive.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include <array>
#include <memory>
#include <vector>

#include "base/byte_reader.h"
#include "base/encoding.h"
#include "base/gbk.h"
#include "runtime/libraries/eCompress/archive_check.h"
#include "runtime/libraries/eCompress/system.h"

namespace ecompress {

namespace {

constexpr size_t kChunk = 64 * 1024;
// Entries up to this size are written without the ZIP64 fields, which older
// readers do not know; deflate may add a little to incompressible data.
constexpr uint64_t kZip64Threshold = 0xF0000000u;

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

base::Failure<Problem> problem(std::string_view entry, std::string why) {
    return base::fail(Problem{std::string(entry), std::move(why)});
}

// The names Windows opens as devices, in any letter case and before any dot;
// blanks before the dot do not count ("NUL .txt" is the device too). The
// same rule as the programs' own name checks (common::device_name).
bool is_device_name(std::string_view name) {
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    std::string upper;
    for (char c : stem)
        upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$")
        return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '0' && upper[3] <= '9';
}

struct UnzipCloser {
    void operator()(void* file) const { unzClose(file); }
};
using UnzipHandle = std::unique_ptr<void, UnzipCloser>;

// Inflates one checked entry into a temporary file beside its target; the
// temporary is removed when the entry's data fails its checks.
Result<std::unique_ptr<PendingFile>> extract(const ArchiveSource& archive,
                                             const CheckedEntry& entry, const NativePath& target) {
    auto pending = PendingFile::create_beside(target);
    if (!pending)
        return problem(entry.name, "cannot write into the folder");
    TRY(read_entry(archive, entry,
                   [&](const uint8_t* data, size_t size) { return pending->write(data, size); }));
    if (!pending->close() || !pending->set_last_write(entry.last_write))
        return problem(entry.name, "cannot write into the folder");
    return pending;
}

struct ZipCloser {
    void operator()(void* file) const { zipClose(file, nullptr); }
};
using ZipHandle = std::unique_ptr<void, ZipCloser>;

// The archive's bytes: in memory when it is small enough, else read where
// it lies.
std::unique_ptr<ArchiveSource> open_archive(const NativePath& path) {
    auto file = open_file_source(path);
    if (!file || file->size() > kInMemoryArchiveSize)
        return file;
    std::vector<uint8_t> bytes(static_cast<size_t>(file->size()));
    if (!file->read_at(0, bytes.data(), bytes.size()))
        return nullptr;
    return memory_source(std::move(bytes));
}

// The folders unpacking made, removed again unless it succeeds.
class MadeFolders {
  public:
    ~MadeFolders() {
        for (auto folder = made.rbegin(); folder != made.rend(); ++folder)
            remove_empty_folder(*folder);
    }
    void keep() { made.clear(); }
    std::vector<NativePath> made;
};

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
    const std::unique_ptr<ArchiveSource> source = open_archive(*native_archive);
    if (!source)
        return problem("", "no such archive");
    SourceCursor cursor{source.get()};
    zlib_filefunc64_def functions;
    fill_source_functions(&functions, &cursor);
    UnzipHandle zip(unzOpen2_64("archive", &functions));
    if (!zip)
        return problem("", "not a ZIP archive");
    // What the directory and the headers say is judged before anything is
    // written.
    const std::vector<CheckedEntry> entries =
        TRY(check_archive(zip.get(), source->size(), kUnpackLimits));
    std::vector<NativePath> targets;
    for (const CheckedEntry& entry : entries) {
        auto native_name = native_path(entry.name);
        if (!native_name)
            return problem(entry.stored_name, "not a plain file name");
        targets.push_back(join(*native_folder, *native_name));
        // A file cannot replace a folder.
        if (is_folder(targets.back()))
            return problem(entry.stored_name, "a folder has this name");
    }
    // Each entry's data is judged as it is inflated into its temporary; the
    // first that fails removes every temporary and the folders made for
    // them, so no entry is placed unless all of them passed.
    MadeFolders folders;
    if (!make_folders(*native_folder, folders.made))
        return problem("", "the folder cannot be made");
    std::vector<std::unique_ptr<PendingFile>> written;
    for (size_t i = 0; i < entries.size(); ++i)
        written.push_back(TRY(extract(*source, entries[i], targets[i])));
    folders.keep();
    for (size_t i = 0; i < written.size(); ++i) {
        if (!written[i]->commit())
            return problem(entries[i].name, "cannot replace the file");
    }
    return {};
}

}  // namespace ecompress
