#include "runtime/kernel/dll_call.h"

namespace kernel {

#if defined(__i386__)

// i386: declared functions are stdcall and remove their own arguments. The
// arguments are pushed right to left, and the stack pointer before and after
// the call is compared: a function that removed more or fewer than it was
// given leaves it elsewhere, which is run-time error 6.
DllCallResult call_dll_function(uintptr_t function, const intptr_t* arguments, int count) {
    intptr_t value;
    uintptr_t before, after;
    __asm__ volatile(
        "movl %%esp, %%edi\n\t"
        "movl %[count], %%ecx\n\t"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl -4(%[arguments],%%ecx,4)\n\t"
        "decl %%ecx\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "call *%%edx\n\t"
        "movl %%esp, %%ecx\n\t"
        "movl %%edi, %%esp\n\t"
        // The function comes in edx (which the call may change); esi and
        // ebx survive the call, as stdcall functions preserve them.
        : "=&a"(value), "=&c"(after), "=&D"(before), "+d"(function)
        : [arguments] "S"(arguments), [count] "b"(count)
        : "memory", "cc");
    return DllCallResult{value, after == before};
}

#else

// x86-64: the caller removes the arguments, so surplus ones do no harm and
// the stack cannot be left unbalanced.
DllCallResult call_dll_function(uintptr_t function, const intptr_t* arguments, int count) {
    intptr_t a[kMaxDllArguments] = {};
    for (int i = 0; i < count && i < kMaxDllArguments; ++i)
        a[i] = arguments[i];
    using Function = intptr_t (*)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                                  intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);
    return DllCallResult{reinterpret_cast<Function>(function)(a[0], a[1], a[2], a[3], a[4], a[5],
                                                              a[6], a[7], a[8], a[9], a[10], a[11]),
                         true};
}

#endif

}  // namespace kernel
