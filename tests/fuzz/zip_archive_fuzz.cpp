// Fuzzing the check that an archive passes before unpacking writes anything.
// One input is one archive file, read by minizip from memory.
//
// An archive the check accepts must keep its promises: every name plain and
// unique, the counts and sizes inside the limits, and each entry, read again
// through the same reader, giving exactly its declared size with its CRC;
// minizip's own inflation of the entry gives the same bytes. A broken
// promise aborts with the input saved.
#include <minizip/ioapi.h>
#include <minizip/unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "runtime/libraries/eCompress/archive_check.h"

namespace {

using namespace ecompress;

// Small limits, so that inputs of a few kilobytes reach them.
constexpr ArchiveLimits kLimits{16, 8u << 20};

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

// A read-only file in memory for minizip.
struct MemoryFile {
    std::span<const uint8_t> bytes;
    uint64_t at = 0;
};

voidpf open_memory(voidpf opaque, const void*, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_WRITE) != 0)
        return nullptr;
    auto* file = static_cast<MemoryFile*>(opaque);
    file->at = 0;
    return file;
}
uLong read_memory(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* file = static_cast<MemoryFile*>(stream);
    const uint64_t left = file->at < file->bytes.size() ? file->bytes.size() - file->at : 0;
    const uLong count = static_cast<uLong>(std::min<uint64_t>(size, left));
    if (count > 0)
        std::memcpy(buffer, file->bytes.data() + file->at, count);
    file->at += count;
    return count;
}
uLong write_memory(voidpf, voidpf, const void*, uLong) {
    check(false, "the check writes nothing");
    return 0;
}
ZPOS64_T tell_memory(voidpf, voidpf stream) {
    return static_cast<MemoryFile*>(stream)->at;
}
// minizip moves back by passing a negative offset as its unsigned type, as
// the system's seek takes it.
long seek_memory(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* file = static_cast<MemoryFile*>(stream);
    uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = file->at;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = file->bytes.size();
    const uint64_t target = base + offset;  // wraps for a negative offset
    if (origin == ZLIB_FILEFUNC_SEEK_SET ? offset > file->bytes.size()
                                         : target > file->bytes.size())
        return -1;
    file->at = target;
    return 0;
}
int close_memory(voidpf, voidpf) {
    return 0;
}
int error_memory(voidpf, voidpf) {
    return 0;
}

struct UnzipCloser {
    void operator()(void* zip) const { unzClose(zip); }
};

// What minizip's own inflation gives for the entry, up to one byte past
// its declared size.
std::vector<uint8_t> minizip_content(unzFile zip, const CheckedEntry& entry) {
    std::vector<uint8_t> content;
    if (unzGoToFilePos64(zip, &entry.position) != UNZ_OK || unzOpenCurrentFile(zip) != UNZ_OK)
        return content;
    std::vector<uint8_t> buffer(64 * 1024);
    for (;;) {
        const int got =
            unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (got <= 0 || content.size() > entry.size)
            break;
        content.insert(content.end(), buffer.begin(), buffer.begin() + got);
    }
    unzCloseCurrentFile(zip);
    return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFile file{{data, size}};
    zlib_filefunc64_def functions{};
    functions.zopen64_file = open_memory;
    functions.zread_file = read_memory;
    functions.zwrite_file = write_memory;
    functions.ztell64_file = tell_memory;
    functions.zseek64_file = seek_memory;
    functions.zclose_file = close_memory;
    functions.zerror_file = error_memory;
    functions.opaque = &file;
    std::unique_ptr<void, UnzipCloser> zip(unzOpen2_64("archive", &functions));
    if (!zip)
        return 0;

    auto checked = check_archive(zip.get(), size, kLimits);
    if (checked.is_error()) {
        check(!checked.error().why.empty(), "a refusal says why");
        return 0;
    }
    const std::vector<CheckedEntry>& entries = checked.value();
    check(entries.size() <= kLimits.max_entries, "no more entries than the limit");
    std::set<std::string> names;
    uint64_t total = 0;
    for (const CheckedEntry& entry : entries) {
        check(is_plain_name(entry.name), "every name is a plain name");
        check(names.insert(entry.name).second, "no name comes twice");
        total += entry.size;
        check(entry.stored_size <= size, "an entry's data fits in the archive");

        std::vector<uint8_t> content;
        auto read = read_entry(zip.get(), entry, [&](const uint8_t* bytes, size_t count) {
            content.insert(content.end(), bytes, bytes + count);
            return true;
        });
        check(!read.is_error(), "an accepted entry reads again");
        check(content.size() == entry.size, "an entry gives its declared size");
        check(static_cast<uint32_t>(crc32(0, content.data(), static_cast<uInt>(content.size()))) ==
                  entry.crc,
              "an entry gives its CRC");
        check(minizip_content(zip.get(), entry) == content,
              "minizip inflates an accepted entry to the same bytes");
    }
    check(total <= kLimits.max_total_size, "the sizes stay inside the total limit");
    return 0;
}
