// Pictures that the runtime's `capture` step writes: PNG, 8-bit RGB, no
// interlace, unfiltered rows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace test_support {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;

    // The pixel's three channels, red first.
    const uint8_t* pixel(int x, int y) const {
        return &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3];
    }
    Rgb at(int x, int y) const {
        const uint8_t* c = pixel(x, y);
        return {c[0], c[1], c[2]};
    }
};

// Empty (width 0) when the file is missing or no PNG of that kind.
Picture read_png(const std::filesystem::path& path);

}  // namespace test_support
