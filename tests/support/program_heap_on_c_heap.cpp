// The runtime's heap and its error exit for program code built for the host
// (the manifest in unit tests and fuzz targets): the C heap, and an abort.
#include <cstdio>
#include <cstdlib>

#include "common/manifest/manifest.h"

extern "C" {
RT_CALL void* rt_heap_new(uint32_t size) {
    return std::malloc(size == 0 ? 1 : size);
}
RT_CALL void rt_heap_free(void* block) {
    std::free(block);
}
RT_CALL void rt_runtime_error(int32_t code) {
    std::fprintf(stderr, "run-time error %d\n", code);
    std::abort();
}
}
