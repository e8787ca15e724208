// The checks an archive passes while it is unpacked.
//
// check_archive judges what the central directory and the local headers
// say, before unpacking writes its first byte; read_entry then inflates one
// entry and judges its data as it comes, and unpacking places no entry
// before every entry's data has passed. An archive is refused when:
// - its central directory cannot be read to its end (minizip finds the end
//   record and refuses a directory that would run past it), or it lists
//   more than `max_entries` entries;
// - an entry is not a plain name (see is_plain_name), is encrypted, uses a
//   method other than stored or deflate, repeats another entry's name (A-Z
//   folded), or has a DOS time that is no time;
// - an entry declares more than its data can give: a stored entry whose
//   declared size is not its stored size, a deflated one that declares more
//   than deflate's greatest ratio allows;
// - the declared sizes add up to more than `max_total_size`;
// - an entry's data runs past the end of the archive or shares bytes with
//   another entry's data (entries that overlap inflate the same bytes
//   many times over);
// - (read_entry) an entry's data gives more or fewer bytes than declared
//   (inflation stops at the first byte past the declared size), its deflate
//   stream is damaged or does not end exactly at the end of its data (an
//   empty entry may have no stream at all), or its CRC is not the CRC of what
//   it gives.
#pragma once

#include <minizip/unzip.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/libraries/eCompress/archive_source.h"
#include "runtime/libraries/eCompress/zip_archive.h"

namespace ecompress {

struct ArchiveLimits {
    uint64_t max_entries;
    uint64_t max_total_size;  // the sum of the entries' declared sizes
};
// What unpacking takes: a release of a game client's files fits many times.
inline constexpr ArchiveLimits kUnpackLimits{65535, uint64_t{16} << 30};

// An entry as the check found it.
struct CheckedEntry {
    std::string stored_name;  // the name's bytes as the archive holds them
    std::string name;         // GBK
    unz64_file_pos position{};
    uint64_t data_offset = 0;  // where its stored bytes start in the archive
    uint64_t stored_size = 0;  // compressed
    uint64_t size = 0;         // declared and checked: what it gives
    uint32_t crc = 0;
    bool deflated = false;
    int64_t last_write = 0;  // seconds since 1970-01-01 UTC
};

// Takes an entry's bytes as they come; false stops the reading.
using EntrySink = std::function<bool(const uint8_t* data, size_t size)>;

// What the directory and the local headers say. `archive_size` is the
// archive's size in bytes.
Result<std::vector<CheckedEntry>> check_archive(unzFile zip, uint64_t archive_size,
                                                const ArchiveLimits& limits);

// Reads one checked entry's stored bytes from the archive and gives what
// they hold to `sink`, judging the data as it comes; a sink that refuses
// ends it with "cannot write into the folder". What the sink got is only
// sound when the result is.
Result<void> read_entry(const ArchiveSource& archive, const CheckedEntry& entry,
                        const EntrySink& sink);

}  // namespace ecompress
