// Calling a declared DLL function with pointer-sized arguments in the
// platform's own convention.
#pragma once

#include <cstdint>

namespace kernel {

struct DllCallResult {
    intptr_t value = 0;
    bool balanced = true;  // i386: the function took exactly its arguments off the stack
};

// At most kMaxDllArguments arguments.
inline constexpr int kMaxDllArguments = 12;
DllCallResult call_dll_function(uintptr_t function, const intptr_t* arguments, int count);

}  // namespace kernel
