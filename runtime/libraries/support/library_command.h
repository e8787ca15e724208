// What every support library shares: reading a command's arguments through
// the kernel's checks, and giving texts and byte arrays back on the kernel's
// heap.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "contract/runtime_abi.h"

#if defined(_WIN32)
#define SUPPORT_LIBRARY_EXPORT extern "C" __declspec(dllexport)
#else
#define SUPPORT_LIBRARY_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace support {

class LibraryArguments {
  public:
    // `library` names the library in messages. Ends the program unless the
    // block holds exactly `count` arguments.
    LibraryArguments(const char* library, int32_t command, const RtArgumentBlock* block,
                     uint32_t count, const RtKernelServices& kernel);

    int32_t integer(size_t i) const;
    bool logical(size_t i) const;
    std::string text(size_t i) const;
    std::span<const uint8_t> bytes(size_t i) const;
    // A unit of the library: low holds its window, high the unit.
    RtArgument unit(size_t i) const;

    const RtKernelServices& kernel() const { return kernel_; }
    intptr_t new_text(std::string_view text) const;
    intptr_t new_byte_array(std::span<const uint8_t> bytes) const;
    [[noreturn]] void fail(const std::string& text) const;

  private:
    const RtArgument& of_type(size_t i, uint32_t type, const char* what) const;
    const void* address(size_t i) const;
    [[noreturn]] void wrong(size_t i, const char* what) const;

    const char* library_;
    int32_t command_;
    const RtArgumentBlock* block_;
    const RtKernelServices& kernel_;
};

// For a command number the library does not know.
[[noreturn]] void unknown_command(const char* library, int32_t command,
                                  const RtKernelServices& kernel);

}  // namespace support
