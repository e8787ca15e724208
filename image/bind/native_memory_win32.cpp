#include <windows.h>

#include <cstdint>

#include "image/bind/native_memory.h"

namespace image::native_memory {

namespace {

uint64_t align_up(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The first address that the reservation must stay below.
uint64_t address_limit(Architecture architecture) {
    return architecture == Architecture::X86_64 ? uint64_t{1} << 31 : uint64_t{1} << 32;
}

void* commit(void* wanted, size_t size) {
    return VirtualAlloc(wanted, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

Placement placed(void* memory) {
    Placement placement;
    placement.memory = static_cast<uint8_t*>(memory);
    placement.address = reinterpret_cast<uintptr_t>(memory);
    placement.zeroed = true;  // committed pages start zeroed
    return placement;
}

}  // namespace

std::optional<Placement> reserve(size_t size, Architecture architecture) {
    const uint64_t limit = address_limit(architecture);
    if (size == 0 || size > limit)
        return std::nullopt;

    if constexpr (sizeof(void*) == 4) {
        // Every address of a 32-bit process is below 4 GB.
        if (architecture == Architecture::I386) {
            void* memory = commit(nullptr, size);
            if (memory == nullptr)
                return std::nullopt;
            return placed(memory);
        }
    }

    // Free regions from low to high: the first one that holds the whole
    // reservation below the limit, at an allocation granularity boundary.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uint64_t granularity = system.dwAllocationGranularity;
    uint64_t at =
        align_up(reinterpret_cast<uintptr_t>(system.lpMinimumApplicationAddress), granularity);
    while (at < limit && size <= limit - at) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(at)), &region,
                         sizeof region) == 0)
            break;
        const uint64_t end =
            reinterpret_cast<uintptr_t>(region.BaseAddress) + uint64_t{region.RegionSize};
        if (end <= at)
            break;
        const uint64_t candidate = align_up(at, granularity);
        if (region.State == MEM_FREE && candidate < end && size <= end - candidate &&
            candidate < limit && size <= limit - candidate) {
            void* wanted = reinterpret_cast<void*>(static_cast<uintptr_t>(candidate));
            void* memory = commit(wanted, size);
            if (memory == wanted)
                return placed(memory);
            if (memory != nullptr)
                VirtualFree(memory, 0, MEM_RELEASE);
        }
        at = end;
    }
    return std::nullopt;
}

bool protect(const Placement& placement, size_t offset, size_t size, Protection protection) {
    DWORD flags = PAGE_READONLY;
    switch (protection) {
        case Protection::ReadOnly:
            break;
        case Protection::ReadWrite:
            flags = PAGE_READWRITE;
            break;
        case Protection::ReadExecute:
            flags = PAGE_EXECUTE_READ;
            break;
    }
    DWORD previous = 0;
    if (!VirtualProtect(placement.memory + offset, size, flags, &previous))
        return false;
    if (protection == Protection::ReadExecute)
        FlushInstructionCache(GetCurrentProcess(), placement.memory + offset, size);
    return true;
}

void release(const Placement& placement, size_t size) {
    if (placement.memory != nullptr && size != 0)
        VirtualFree(placement.memory, 0, MEM_RELEASE);
}

}  // namespace image::native_memory
