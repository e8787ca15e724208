#include "runtime/libraries/support/library_command.h"

#include <cstdlib>
#include <cstring>

namespace support {

LibraryArguments::LibraryArguments(const char* library, int32_t command,
                                   const RtArgumentBlock* block, uint32_t count,
                                   const RtKernelServices& kernel)
    : library_(library), command_(command), block_(block), kernel_(kernel) {
    const uint32_t given = block != nullptr ? block->count : 0;
    if (given != count)
        fail(std::string("The command ") + std::to_string(command) + " of the library " + library +
             " takes " + std::to_string(count) + " argument(s), not " + std::to_string(given) +
             ".");
}

void LibraryArguments::fail(const std::string& text) const {
    kernel_.fatal(text.c_str());
    std::abort();  // the kernel does not come back
}

void LibraryArguments::wrong(size_t i, const char* what) const {
    fail("Argument " + std::to_string(i + 1) + " of the command " + std::to_string(command_) +
         " of the library " + library_ + " is not " + what + ".");
}

const RtArgument& LibraryArguments::of_type(size_t i, uint32_t type, const char* what) const {
    const RtArgument& a = block_->arguments[i];
    if (a.type != type)
        wrong(i, what);
    return a;
}

const void* LibraryArguments::address(size_t i) const {
    const RtArgument& a = block_->arguments[i];
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(a.low | uint64_t{a.high} << 32));
}

int32_t LibraryArguments::integer(size_t i) const {
    return static_cast<int32_t>(of_type(i, RT_TYPE_INT32, "an integer").low);
}

bool LibraryArguments::logical(size_t i) const {
    return of_type(i, RT_TYPE_BOOL, "a logical value").low != 0;
}

std::string LibraryArguments::text(size_t i) const {
    of_type(i, RT_TYPE_TEXT, "a text");
    const void* at = address(i);
    if (at == nullptr)
        return {};
    const int64_t length = kernel_.text_length(at);
    if (length < 0)
        wrong(i, "a text that ends inside the program's memory");
    return std::string(static_cast<const char*>(at), static_cast<size_t>(length));
}

std::span<const uint8_t> LibraryArguments::bytes(size_t i) const {
    of_type(i, RT_TYPE_BYTES, "a byte array");
    const void* at = address(i);
    if (at == nullptr)
        return {};
    const int64_t count = kernel_.byte_array_length(at);
    if (count < 0)
        wrong(i, "a byte array on the runtime's heap");
    return {static_cast<const uint8_t*>(at) + sizeof(RtArrayHeader), static_cast<size_t>(count)};
}

RtArgument LibraryArguments::unit(size_t i) const {
    const RtArgument& a = block_->arguments[i];
    if ((a.type & 0x80000000u) != 0 || RT_TYPE_LIBRARY(a.type) == 0)
        wrong(i, "a unit");
    return a;
}

intptr_t LibraryArguments::new_text(std::string_view text) const {
    if (text.size() >= UINT32_MAX)
        fail("Out of memory.");
    auto* block = static_cast<char*>(kernel_.heap_new(static_cast<uint32_t>(text.size() + 1)));
    std::memcpy(block, text.data(), text.size());
    block[text.size()] = '\0';
    return reinterpret_cast<intptr_t>(block);
}

intptr_t LibraryArguments::new_byte_array(std::span<const uint8_t> bytes) const {
    if (bytes.size() > UINT32_MAX - sizeof(RtArrayHeader))
        fail("Out of memory.");
    auto* block = static_cast<uint8_t*>(
        kernel_.heap_new(static_cast<uint32_t>(sizeof(RtArrayHeader) + bytes.size())));
    const RtArrayHeader header{1, static_cast<uint32_t>(bytes.size())};
    std::memcpy(block, &header, sizeof header);
    if (!bytes.empty())
        std::memcpy(block + sizeof header, bytes.data(), bytes.size());
    return reinterpret_cast<intptr_t>(block);
}

void unknown_command(const char* library, int32_t command, const RtKernelServices& kernel) {
    const std::string text =
        std::string("The library ") + library + " has no command " + std::to_string(command) + ".";
    kernel.fatal(text.c_str());
    std::abort();
}

}  // namespace support
