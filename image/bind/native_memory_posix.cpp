#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "image/bind/native_memory.h"

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000  // Linux 4.17; older kernels take the address as a hint
#endif

namespace image::native_memory {

namespace {

size_t page_size() {
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<size_t>(size) : 4096;
}

size_t align_up(size_t value, size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The first address that the reservation must stay below.
uint64_t address_limit(Architecture architecture) {
    return architecture == Architecture::X86_64 ? uint64_t{1} << 31 : uint64_t{1} << 32;
}

constexpr int kProtection = PROT_READ | PROT_WRITE;

// Binding writes nearly every page of a reservation at once, so pages are
// made present in one go rather than fault by fault, which costs much less;
// a reservation above this size (a large var segment) stays lazy instead.
constexpr size_t kPopulateLimit = size_t{64} << 20;

int anonymous(size_t length) {
    return MAP_PRIVATE | MAP_ANONYMOUS | (length <= kPopulateLimit ? MAP_POPULATE : 0);
}

bool below(const void* memory, size_t length, uint64_t limit) {
    const auto start = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(memory));
    return start <= limit && length <= limit - start;
}

std::optional<Placement> placed(void* memory) {
    Placement placement;
    placement.memory = static_cast<uint8_t*>(memory);
    placement.address = reinterpret_cast<uintptr_t>(memory);
    placement.zeroed = true;  // fresh anonymous pages
    return placement;
}

// Tries fixed places from low to high, one step at a time, never replacing a
// mapping that is there already.
std::optional<Placement> reserve_by_hints(size_t length, uint64_t limit) {
    constexpr uint64_t kFirstHint = 0x00100000;  // clear of the lowest pages
    constexpr uint64_t kStep = 0x00100000;
    for (uint64_t hint = kFirstHint; hint < limit && length <= limit - hint; hint += kStep) {
        void* wanted = reinterpret_cast<void*>(static_cast<uintptr_t>(hint));
        void* memory =
            mmap(wanted, length, kProtection, anonymous(length) | MAP_FIXED_NOREPLACE, -1, 0);
        if (memory == MAP_FAILED)
            continue;
        if (memory == wanted)
            return placed(memory);
        // A kernel that does not know the flag took it as a mere hint.
        munmap(memory, length);
    }
    return std::nullopt;
}

}  // namespace

std::optional<Placement> reserve(size_t size, Architecture architecture) {
    const uint64_t limit = address_limit(architecture);
    if (size == 0 || size > limit)
        return std::nullopt;
    const size_t length = align_up(size, page_size());

    if constexpr (sizeof(void*) == 4) {
        void* memory = mmap(nullptr, length, kProtection, anonymous(length), -1, 0);
        if (memory == MAP_FAILED)
            return std::nullopt;
        if (below(memory, length, limit))
            return placed(memory);
        munmap(memory, length);
        return reserve_by_hints(length, limit);
    }
#ifdef MAP_32BIT
    // The first 2 GB; the result is checked all the same.
    void* memory = mmap(nullptr, length, kProtection, anonymous(length) | MAP_32BIT, -1, 0);
    if (memory != MAP_FAILED) {
        if (below(memory, length, limit))
            return placed(memory);
        munmap(memory, length);
    }
#endif
    return reserve_by_hints(length, limit);
}

bool protect(const Placement& placement, size_t offset, size_t size, Protection protection) {
    int flags = PROT_READ;
    switch (protection) {
        case Protection::ReadOnly:
            break;
        case Protection::ReadWrite:
            flags |= PROT_WRITE;
            break;
        case Protection::ReadExecute:
            flags |= PROT_EXEC;
            break;
    }
    return mprotect(placement.memory + offset, size, flags) == 0;
}

void release(const Placement& placement, size_t size) {
    if (placement.memory != nullptr && size != 0)
        munmap(placement.memory, align_up(size, page_size()));
}

}  // namespace image::native_memory
