// Routines of the program that the system calls: a routine that the program
// runs through CallWindowProcA is a window procedure, which the system calls
// in its own convention (stdcall on i386, the Microsoft x64 convention on
// x86-64 on every system, so that one image's routine works under every
// runtime).
//
//   RT_WINDOW_PROCEDURE intptr_t handler(intptr_t a, uint32_t b, uintptr_t c, intptr_t d);
#pragma once

#if defined(__x86_64__)
#define RT_WINDOW_PROCEDURE __attribute__((ms_abi))
#else
#define RT_WINDOW_PROCEDURE __attribute__((stdcall))
#endif
