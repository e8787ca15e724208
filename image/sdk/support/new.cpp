// operator new and delete on the runtime's heap.
#include <stddef.h>

#include "rt/slots.h"

void* operator new(size_t size) {
    return rt_heap_new(static_cast<uint32_t>(size));
}

void* operator new[](size_t size) {
    return rt_heap_new(static_cast<uint32_t>(size));
}

void operator delete(void* block) noexcept {
    if (block != nullptr)
        rt_heap_free(block);
}

void operator delete[](void* block) noexcept {
    if (block != nullptr)
        rt_heap_free(block);
}

void operator delete(void* block, size_t) noexcept {
    operator delete(block);
}

void operator delete[](void* block, size_t) noexcept {
    operator delete[](block);
}

// A pure virtual call can only come from a broken object.
extern "C" void __cxa_pure_virtual() {
    rt_runtime_error(0);
}
