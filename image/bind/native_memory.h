// Memory of this process for binding images into: reserved writable,
// protected page by page once bound, and given back. One implementation per
// system: native_memory_posix.cpp and native_memory_win32.cpp.
#pragma once

#include <cstddef>
#include <optional>

#include "image/bind/binder.h"

namespace image::native_memory {

// `size` bytes of fresh, zeroed, readable and writable pages (neither
// executable), at an address where the image's 32-bit fixups hold: below 2 GB
// for an x86-64 image, below 4 GB for an i386 image. The placement's address
// is the memory's own. nullopt when no such place is free.
std::optional<Placement> reserve(size_t size, Architecture architecture);

// Sets the protection of [offset, offset + size) of a reservation; offset and
// size are multiples of the page size. Executable pages are never writable.
bool protect(const Placement& placement, size_t offset, size_t size, Protection protection);

// Gives a whole reservation back.
void release(const Placement& placement, size_t size);

}  // namespace image::native_memory

namespace image {

// A binding host whose memory is native memory; the runtime's part (slots,
// libraries, DLLs and rewriting) is the derived host's.
class NativeMemoryHost : public BindHost {
  public:
    std::optional<Placement> reserve(size_t size, Architecture architecture) override {
        return native_memory::reserve(size, architecture);
    }
    bool protect(const Placement& placement, size_t offset, size_t size,
                 Protection protection) override {
        return native_memory::protect(placement, offset, size, protection);
    }
    void release(const Placement& placement, size_t size) override {
        native_memory::release(placement, size);
    }
};

}  // namespace image
