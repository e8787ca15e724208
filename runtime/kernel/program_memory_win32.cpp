#include <windows.h>

#include "runtime/kernel/program_memory.h"

namespace kernel {

StackExtent current_stack() {
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    return {static_cast<uintptr_t>(low), static_cast<uintptr_t>(high)};
}

}  // namespace kernel
