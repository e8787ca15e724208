#include "runtime/libraries/eCompress/archive_source.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ecompress {

namespace {

class MemorySource final : public ArchiveSource {
  public:
    explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    explicit MemorySource(std::vector<uint8_t> owned)
        : owned_(std::move(owned)), bytes_(owned_.data(), owned_.size()) {}
    uint64_t size() const override { return bytes_.size(); }
    bool read_at(uint64_t offset, void* buffer, size_t size) const override {
        if (offset > bytes_.size() || size > bytes_.size() - offset)
            return false;
        if (size > 0)
            std::memcpy(buffer, bytes_.data() + offset, size);
        return true;
    }
    std::span<const uint8_t> in_memory() const override { return bytes_; }

  private:
    std::vector<uint8_t> owned_;
    std::span<const uint8_t> bytes_;
};

voidpf open_source(voidpf opaque, const void*, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_WRITE) != 0)
        return nullptr;
    auto* cursor = static_cast<SourceCursor*>(opaque);
    cursor->at = 0;
    return cursor;
}

uLong read_source(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* cursor = static_cast<SourceCursor*>(stream);
    const uint64_t length = cursor->source->size();
    const uint64_t left = cursor->at < length ? length - cursor->at : 0;
    const auto count = static_cast<uLong>(std::min<uint64_t>(size, left));
    if (count > 0 && !cursor->source->read_at(cursor->at, buffer, count))
        return 0;
    cursor->at += count;
    return count;
}

uLong write_source(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T tell_source(voidpf, voidpf stream) {
    return static_cast<SourceCursor*>(stream)->at;
}

// minizip moves back by passing a negative offset as its unsigned type, as
// the system's seek takes it; a position past the end is refused.
long seek_source(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* cursor = static_cast<SourceCursor*>(stream);
    const uint64_t length = cursor->source->size();
    uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = cursor->at;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = length;
    else if (origin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    const uint64_t target = base + offset;  // wraps for a negative offset
    if (origin == ZLIB_FILEFUNC_SEEK_SET ? offset > length : target > length)
        return -1;
    cursor->at = target;
    return 0;
}

int close_source(voidpf, voidpf) {
    return 0;
}

int error_source(voidpf, voidpf) {
    return 0;
}

}  // namespace

std::unique_ptr<ArchiveSource> memory_source(std::span<const uint8_t> bytes) {
    return std::make_unique<MemorySource>(bytes);
}

std::unique_ptr<ArchiveSource> memory_source(std::vector<uint8_t> bytes) {
    return std::make_unique<MemorySource>(std::move(bytes));
}

void fill_source_functions(zlib_filefunc64_def* functions, SourceCursor* cursor) {
    *functions = zlib_filefunc64_def{};
    functions->zopen64_file = open_source;
    functions->zread_file = read_source;
    functions->zwrite_file = write_source;
    functions->ztell64_file = tell_source;
    functions->zseek64_file = seek_source;
    functions->zclose_file = close_source;
    functions->zerror_file = error_source;
    functions->opaque = cursor;
}

}  // namespace ecompress
