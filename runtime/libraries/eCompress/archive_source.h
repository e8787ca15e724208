// The bytes of an archive being unpacked, and minizip's file functions over
// them.
//
// An archive of a few megabytes (what an update sends) is read into memory
// once: minizip's search for the end records reads the archive's last
// kilobytes again and again in small steps, and every later read of the
// directory, the local headers and the entries' data is then served from
// memory without a system call. A larger archive is read where it lies, at
// offsets, so that unpacking it never holds more than a few buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <minizip/ioapi.h>

namespace ecompress {

class ArchiveSource {
  public:
    virtual ~ArchiveSource() = default;
    virtual uint64_t size() const = 0;
    // Exactly `size` bytes from `offset`; false when they are not there.
    virtual bool read_at(uint64_t offset, void* buffer, size_t size) const = 0;
    // All the bytes at once when they are in memory, else empty.
    virtual std::span<const uint8_t> in_memory() const { return {}; }
};

// Bytes that the caller keeps alive as long as the source.
std::unique_ptr<ArchiveSource> memory_source(std::span<const uint8_t> bytes);
// Bytes the source owns.
std::unique_ptr<ArchiveSource> memory_source(std::vector<uint8_t> bytes);

// Archives up to this size are read into memory whole.
inline constexpr uint64_t kInMemoryArchiveSize = uint64_t{16} << 20;

// Where minizip reads: the source and minizip's position in it. It must
// outlive the unzFile opened with its functions.
struct SourceCursor {
    const ArchiveSource* source = nullptr;
    uint64_t at = 0;
};
// Read-only file functions over the cursor's source; the name minizip is
// given is not looked at.
void fill_source_functions(zlib_filefunc64_def* functions, SourceCursor* cursor);

}  // namespace ecompress
