// Memory copy and fill for freestanding images: the compiler emits calls to
// these for aggregate copies and large initialisations.
#include <stddef.h>

// Keep the compiler from turning these loops back into calls of themselves.
#define RT_NO_LOOP_PATTERNS __attribute__((optimize("no-tree-loop-distribute-patterns")))

extern "C" {

RT_NO_LOOP_PATTERNS void* memcpy(void* destination, const void* source, size_t count) {
    auto* d = static_cast<unsigned char*>(destination);
    const auto* s = static_cast<const unsigned char*>(source);
    for (size_t i = 0; i < count; ++i)
        d[i] = s[i];
    return destination;
}

RT_NO_LOOP_PATTERNS void* memmove(void* destination, const void* source, size_t count) {
    auto* d = static_cast<unsigned char*>(destination);
    const auto* s = static_cast<const unsigned char*>(source);
    if (d < s) {
        for (size_t i = 0; i < count; ++i)
            d[i] = s[i];
    } else {
        for (size_t i = count; i > 0; --i)
            d[i - 1] = s[i - 1];
    }
    return destination;
}

RT_NO_LOOP_PATTERNS void* memset(void* destination, int value, size_t count) {
    auto* d = static_cast<unsigned char*>(destination);
    for (size_t i = 0; i < count; ++i)
        d[i] = static_cast<unsigned char>(value);
    return destination;
}

RT_NO_LOOP_PATTERNS int memcmp(const void* a, const void* b, size_t count) {
    const auto* x = static_cast<const unsigned char*>(a);
    const auto* y = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < count; ++i) {
        if (x[i] != y[i])
            return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}

}  // extern "C"
