// The arguments of a kernel command or a runtime service, each checked for
// its type and, for addresses, for lying inside memory the program owns (and
// may write, or run, where the runtime writes or calls it); a program that
// passes others ends with a message naming the command or service and the
// argument.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "contract/runtime_abi.h"

namespace kernel {

class Runtime;

// Kinds that only the values of a runtime service have: the service's entry
// gives them (a service's four values carry no types of their own). No
// program type has these numbers.
inline constexpr uint32_t kTypeVariable = 0x80FF0001u;  // address of a variable the runtime fills
inline constexpr uint32_t kTypeRoutine = 0x80FF0002u;   // address of a routine of the program
inline constexpr uint32_t kTypeUnused = 0x80FF0003u;    // a value the service does not read

// Who the arguments are for, as the messages name it.
struct Callee {
    const char* kind;  // "kernel command", "runtime service"
    int32_t number;
    const char* name = nullptr;  // a service's name, or null
};

class Arguments {
  public:
    // A kernel command's block: exactly `count` arguments, or at least
    // `count` when `more` is true. The block itself must lie in the
    // program's memory.
    Arguments(Runtime& runtime, int32_t command, const RtArgumentBlock* block, uint32_t count,
              bool more = false);
    // A block that the runtime built (a service's values, typed by its entry).
    Arguments(Runtime& runtime, Callee callee, const RtArgumentBlock* block);

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
    // A variable of `size` bytes that the runtime writes: in the program's
    // var segment, one heap block or its stack; never null.
    void* variable(size_t i, size_t size) const;
    template <typename T>
    T* variable(size_t i) const {
        return static_cast<T*>(variable(i, sizeof(T)));
    }
    // A routine of the program, to be called: inside its code; null stays
    // null.
    const void* routine(size_t i) const;
    // Whether the address that argument i holds is null.
    bool null(size_t i) const { return address(i) == nullptr; }

    Runtime& runtime() const { return runtime_; }
    [[noreturn]] void wrong(size_t i, std::string_view what) const;

  private:
    const RtArgument& of_type(size_t i, uint32_t type, std::string_view what) const;
    const void* address(size_t i) const;
    std::string callee() const;

    Runtime& runtime_;
    Callee callee_;
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

// One runtime service (RT_SLOT_SERVICE): its number, its name, the kind of
// each of its four values (RT_TYPE_INT32, RT_TYPE_TEXT or a kType* above),
// and what it does.
struct RuntimeService {
    int32_t number;
    const char* name;
    uint32_t types[4];
    int64_t (*run)(const Arguments&);
};

}  // namespace kernel
