// A module with as little thread storage as libgnutls keeps (16 bytes), in
// the general-dynamic model, so that once loaded with dlopen its storage is a
// block from malloc that __tls_get_addr hands out.
#include <cstdint>

namespace {
thread_local uintptr_t g_storage[2];
}

extern "C" __attribute__((visibility("default"))) void* thread_storage_touch() {
    g_storage[0] = 1;
    return g_storage;
}
