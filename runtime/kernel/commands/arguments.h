// The arguments of a kernel command, each checked for its type and, for
// texts and byte arrays, for lying inside memory the program owns; a program
// that passes others ends with a message naming the command.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "contract/runtime_abi.h"

namespace kernel {

class Runtime;

class Arguments {
  public:
    // Exactly `count` arguments, or at least `count` when `more` is true.
    Arguments(Runtime& runtime, int32_t command, const RtArgumentBlock* block, uint32_t count,
              bool more = false);

    uint32_t count() const { return count_; }
    uint32_t type(size_t i) const { return block_->arguments[i].type; }
    const RtArgument& raw(size_t i) const { return block_->arguments[i]; }

    int32_t integer(size_t i) const;
    bool logical(size_t i) const;
    // Windows are named by their identifiers, passed as integers.
    uint32_t window(size_t i) const { return static_cast<uint32_t>(integer(i)); }
    // A GBK text; a null address is the empty text.
    std::string text(size_t i) const;
    // A byte array's elements (none for a null address).
    std::span<const uint8_t> bytes(size_t i) const;
    // A unit: low holds its window, high the unit, type its type reference.
    RtArgument unit(size_t i) const;

    Runtime& runtime() const { return runtime_; }
    [[noreturn]] void wrong(size_t i, std::string_view what) const;

  private:
    const RtArgument& of_type(size_t i, uint32_t type, std::string_view what) const;
    const void* address(size_t i) const;

    Runtime& runtime_;
    int32_t command_;
    const RtArgumentBlock* block_;
    uint32_t count_;
};

// One kernel command: its number, its arguments and what it does.
struct KernelCommand {
    int32_t number;
    uint32_t arguments;  // exactly this many, or at least this many with `more`
    bool more;
    int64_t (*run)(const Arguments&);
};

}  // namespace kernel
