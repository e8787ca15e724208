#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace base {

// "0x1A2B": how messages name offsets, sizes and values.
inline std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace base
