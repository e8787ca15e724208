// Fuzzing the checks that an archive passes while it is unpacked: the check
// of its directory and headers, then each entry inflated from memory with
// the checks of its data, as unpacking reads an archive of an update. One
// input is one archive file.
//
// An archive whose directory the check accepts must keep its promises:
// every name plain and unique, the counts and sizes inside the limits, every
// entry's data inside the archive. An entry whose data is accepted gives
// exactly its declared size with its CRC, and minizip's own inflation of the
// entry gives the same bytes. A broken promise aborts with the input saved.
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
#include "runtime/libraries/eCompress/archive_source.h"

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
    const std::unique_ptr<ArchiveSource> source = memory_source(std::span(data, size));
    SourceCursor cursor{source.get()};
    zlib_filefunc64_def functions;
    fill_source_functions(&functions, &cursor);
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
        check(entry.data_offset <= size && entry.stored_size <= size - entry.data_offset,
              "an entry's data lies inside the archive");
    }
    check(total <= kLimits.max_total_size, "the sizes stay inside the total limit");

    for (const CheckedEntry& entry : entries) {
        std::vector<uint8_t> content;
        auto read = read_entry(*source, entry, [&](const uint8_t* bytes, size_t count) {
            check(content.size() + count <= entry.size, "no byte past the declared size");
            content.insert(content.end(), bytes, bytes + count);
            return true;
        });
        if (read.is_error()) {
            check(!read.error().why.empty(), "a refusal says why");
            return 0;
        }
        check(content.size() == entry.size, "an entry gives its declared size");
        check(static_cast<uint32_t>(crc32(0, content.data(), static_cast<uInt>(content.size()))) ==
                  entry.crc,
              "an entry gives its CRC");
        check(minizip_content(zip.get(), entry) == content,
              "minizip inflates an accepted entry to the same bytes");
    }
    return 0;
}
