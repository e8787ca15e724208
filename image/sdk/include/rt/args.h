// Building the argument blocks of kernel and library commands.
//
//   auto block = rt::arguments(rt::text(name), rt::integer(3), rt::logical(true));
//   rt_kernel_command(command, block.get());
//
// An address argument carries the whole pointer: its low half in `low`, its
// high half in `high` (zero in i386 images).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "contract/runtime_abi.h"

namespace rt {

template <size_t N>
struct ArgumentBlock {
    uint32_t count;
    RtArgument items[N];

    const RtArgumentBlock* get() const { return reinterpret_cast<const RtArgumentBlock*>(this); }
};

inline RtArgument address_argument(const void* address, uint32_t type) {
    const uint64_t value = reinterpret_cast<uintptr_t>(address);
    return RtArgument{static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32), type};
}

inline RtArgument integer(int32_t value) {
    return RtArgument{static_cast<uint32_t>(value), 0, RT_TYPE_INT32};
}

inline RtArgument logical(bool value) {
    return RtArgument{value ? 1u : 0u, 0, RT_TYPE_BOOL};
}

inline RtArgument number(double value) {
    uint64_t bits;
    __builtin_memcpy(&bits, &value, sizeof bits);
    return RtArgument{static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32),
                      RT_TYPE_FLOAT64};
}

// A zero-terminated GBK text.
inline RtArgument text(const char* value) {
    return address_argument(value, RT_TYPE_TEXT);
}

// A byte array (an array block: see rt/array.h).
inline RtArgument bytes(const void* array_block) {
    return address_argument(array_block, RT_TYPE_BYTES);
}

// A unit: its type reference (RT_TYPE(...)), window and unit identifiers (RT_ID(...)).
inline RtArgument unit(uint32_t type, uint32_t window, uint32_t unit_id) {
    return RtArgument{window, unit_id, type};
}

template <typename... Items>
ArgumentBlock<sizeof...(Items)> arguments(Items... items) {
    return ArgumentBlock<sizeof...(Items)>{sizeof...(Items), {items...}};
}

}  // namespace rt
