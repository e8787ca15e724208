#include "runtime/kernel/program_memory.h"

#include <cstring>

#include "contract/runtime_abi.h"

namespace kernel {

namespace {

// The program runs on one thread, so a plain global serves. A floor outside
// the calling thread's stack is not used.
uintptr_t g_stack_floor = 0;

}  // namespace

ProgramCall::ProgramCall(const void* frame) : outer_(g_stack_floor) {
    // Above the frame: the saved frame pointer and the return address, then
    // the caller's frame (the same on i386 and x86-64, either convention).
    g_stack_floor = reinterpret_cast<uintptr_t>(frame) + 2 * sizeof(void*);
}

ProgramCall::~ProgramCall() {
    g_stack_floor = outer_;
}

uintptr_t ProgramCall::stack_floor() {
    return g_stack_floor;
}

size_t ProgramMemory::readable_in_block(uintptr_t at) const {
    auto next = blocks_.upper_bound(at);
    if (next == blocks_.begin())
        return 0;
    const auto& [start, size] = *std::prev(next);
    return at - start < size ? size - (at - start) : 0;
}

size_t ProgramMemory::on_stack_from(uintptr_t at) const {
    const StackExtent stack = current_stack();
    const uintptr_t floor = ProgramCall::stack_floor();
    const uintptr_t low = floor > stack.low && floor < stack.high ? floor : stack.low;
    return at >= low && at < stack.high ? stack.high - at : 0;
}

size_t ProgramMemory::readable_from(uintptr_t at) const {
    if (at >= image_begin_ && at < image_end_)
        return image_end_ - at;
    if (const size_t in_block = readable_in_block(at))
        return in_block;
    return on_stack_from(at);
}

bool ProgramMemory::writable(const void* at, size_t size) const {
    const uintptr_t begin = address(at);
    if (size == 0)
        return false;
    if (var_.contains(begin))
        return var_.from(begin) >= size;
    if (const size_t in_block = readable_in_block(begin))
        return in_block >= size;
    return on_stack_from(begin) >= size;
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
    const uintptr_t at = address(array);
    // A heap block, or a constant array of the image; never the stack,
    // where no array of the program lives.
    const size_t readable =
        at >= image_begin_ && at < image_end_ ? image_end_ - at : readable_in_block(at);
    if (readable < sizeof(RtArrayHeader))
        return -1;
    RtArrayHeader header;
    std::memcpy(&header, array, sizeof header);
    if (header.dimensions != 1 || header.count > readable - sizeof header)
        return -1;
    return header.count;
}

}  // namespace kernel
