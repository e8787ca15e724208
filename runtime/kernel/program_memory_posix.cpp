#include <pthread.h>

#include "runtime/kernel/program_memory.h"

namespace kernel {

StackExtent current_stack() {
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

}  // namespace kernel
