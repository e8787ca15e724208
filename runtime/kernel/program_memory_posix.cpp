#include <pthread.h>

#include "runtime/kernel/program_memory.h"

namespace kernel {

namespace {

StackExtent ask_stack() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0)
        return {};
    void* low = nullptr;
    size_t size = 0;
    const int status = pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    if (status != 0)
        return {};
    const auto begin = reinterpret_cast<uintptr_t>(low);
    return {begin, begin + size};
}

}  // namespace

// Asked once per thread: for the main thread glibc reads the whole of
// /proc/self/maps to answer, which every argument check of every kernel
// command would pay again, and a thread's stack extent does not change.
StackExtent current_stack() {
    thread_local const StackExtent extent = ask_stack();
    return extent;
}

}  // namespace kernel
