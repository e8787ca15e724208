#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "runtime/kernel/program_memory.h"

namespace kernel {

namespace {

StackExtent stack_of_this_thread() {
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

// The main thread's stack, once read. The main thread lives as long as the
// process, so no other thread ever gets its id.
std::atomic<bool> g_main_known{false};
pthread_t g_main_thread;
StackExtent g_main_stack;

}  // namespace

StackExtent current_stack() {
    // The main thread's extent comes from parsing /proc/self/maps, which
    // costs a hundred microseconds, and every text a program passes from its
    // stack asks for it. That extent is fixed for the life of the process
    // (its top and the stack limit), so it is read once. Other threads' come
    // from their descriptors, cheaply.
    if (g_main_known.load(std::memory_order_acquire) &&
        pthread_equal(pthread_self(), g_main_thread) != 0)
        return g_main_stack;
    if (static_cast<pid_t>(syscall(SYS_gettid)) != getpid())
        return stack_of_this_thread();
    const StackExtent extent = stack_of_this_thread();
    if (extent.high != 0) {
        g_main_stack = extent;
        g_main_thread = pthread_self();
        g_main_known.store(true, std::memory_order_release);
    }
    return extent;
}

}  // namespace kernel
