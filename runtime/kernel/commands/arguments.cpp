#include "runtime/kernel/commands/arguments.h"

#include <cstddef>

#include "runtime/kernel/runtime.h"

namespace kernel {

Arguments::Arguments(Runtime& runtime, int32_t command, const RtArgumentBlock* block,
                     uint32_t count, bool more)
    : runtime_(runtime), callee_{"kernel command", command}, block_(block), count_(0) {
    if (block != nullptr) {
        // The count first, then as many arguments as it says: all of it the
        // program's, before any of it is read.
        const ProgramMemory& memory = runtime.memory();
        if (!memory.holds(block, sizeof block->count) ||
            !memory.holds(block, offsetof(RtArgumentBlock, arguments) +
                                     size_t{block->count} * sizeof(RtArgument)))
            runtime.fatal("The argument block of the " + callee() +
                          " does not lie inside the program's memory.");
        count_ = block->count;
    }
    if (count_ == count || (more && count_ > count))
        return;
    runtime.fatal("The kernel command " + std::to_string(command) + " takes " +
                  (more ? "at least " : "") + std::to_string(count) + " argument(s), not " +
                  std::to_string(count_) + ".");
}

Arguments::Arguments(Runtime& runtime, Callee callee, const RtArgumentBlock* block)
    : runtime_(runtime), callee_(callee), block_(block), count_(block->count) {}

std::string Arguments::callee() const {
    std::string text = std::string(callee_.kind) + " " + std::to_string(callee_.number);
    if (callee_.name != nullptr)
        text += std::string(" (") + callee_.name + ")";
    return text;
}

const RtArgument& Arguments::of_type(size_t i, uint32_t type, std::string_view what) const {
    const RtArgument& a = block_->arguments[i];
    if (a.type != type)
        wrong(i, what);
    return a;
}

void Arguments::wrong(size_t i, std::string_view what) const {
    runtime_.fatal("Argument " + std::to_string(i + 1) + " of the " + callee() + " is not " +
                   std::string(what) + ".");
}

int32_t Arguments::integer(size_t i) const {
    return static_cast<int32_t>(of_type(i, RT_TYPE_INT32, "an integer").low);
}

bool Arguments::logical(size_t i) const {
    return of_type(i, RT_TYPE_BOOL, "a logical value").low != 0;
}

const void* Arguments::address(size_t i) const {
    const RtArgument& a = block_->arguments[i];
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(a.low | uint64_t{a.high} << 32));
}

std::string Arguments::text(size_t i) const {
    of_type(i, RT_TYPE_TEXT, "a text");
    const void* at = address(i);
    if (at == nullptr)
        return {};
    const int64_t length = runtime_.memory().text_length(at);
    if (length < 0)
        wrong(i, "a text that ends inside the program's memory");
    return std::string(static_cast<const char*>(at), static_cast<size_t>(length));
}

std::span<const uint8_t> Arguments::bytes(size_t i) const {
    of_type(i, RT_TYPE_BYTES, "a byte array");
    const void* at = address(i);
    if (at == nullptr)
        return {};
    const int64_t count = runtime_.memory().byte_array_length(at);
    if (count < 0)
        wrong(i, "a byte array on the runtime's heap or in the image");
    return {static_cast<const uint8_t*>(at) + sizeof(RtArrayHeader), static_cast<size_t>(count)};
}

RtArgument Arguments::unit(size_t i) const {
    const RtArgument& a = block_->arguments[i];
    if ((a.type & 0x80000000u) != 0 || RT_TYPE_LIBRARY(a.type) == 0)
        wrong(i, "a unit");
    return a;
}

void* Arguments::variable(size_t i, size_t size) const {
    const std::string what =
        "a variable of " + std::to_string(size) + " bytes in memory the program may write";
    of_type(i, kTypeVariable, what);
    const void* at = address(i);
    if (at == nullptr || !runtime_.memory().writable(at, size))
        wrong(i, what);
    return const_cast<void*>(at);
}

const void* Arguments::routine(size_t i) const {
    of_type(i, kTypeRoutine, "a routine of the program");
    const void* at = address(i);
    if (at != nullptr && !runtime_.memory().in_code(at))
        wrong(i, "a routine in the program's code");
    return at;
}

}  // namespace kernel
