#include "runtime/kernel/program_memory.h"

#include <cstring>

#include "contract/runtime_abi.h"

namespace kernel {

size_t ProgramMemory::readable_in_block(uintptr_t at) const {
    auto next = blocks_.upper_bound(at);
    if (next == blocks_.begin())
        return 0;
    const auto& [start, size] = *std::prev(next);
    return at - start < size ? size - (at - start) : 0;
}

size_t ProgramMemory::readable_from(uintptr_t at) const {
    if (at >= image_begin_ && at < image_end_)
        return image_end_ - at;
    if (const size_t in_block = readable_in_block(at))
        return in_block;
    const StackExtent stack = current_stack();
    if (at >= stack.low && at < stack.high)
        return stack.high - at;
    return 0;
}

int64_t ProgramMemory::text_length(const void* text) const {
    const size_t readable = readable_from(address(text));
    if (readable == 0)
        return -1;
    const void* end = std::memchr(text, '\0', readable);
    if (end == nullptr)
        return -1;
    return static_cast<const char*>(end) - static_cast<const char*>(text);
}

int64_t ProgramMemory::byte_array_length(const void* array) const {
    const size_t readable = readable_in_block(address(array));
    if (readable < sizeof(RtArrayHeader))
        return -1;
    RtArrayHeader header;
    std::memcpy(&header, array, sizeof header);
    if (header.dimensions != 1 || header.count > readable - sizeof header)
        return -1;
    return header.count;
}

}  // namespace kernel
