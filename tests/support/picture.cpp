#include "tests/support/picture.h"

#include <zlib.h>

#include <string>

#include "tests/support/test_support.h"

namespace test_support {

namespace {

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
           static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

}  // namespace

Picture read_png(const std::filesystem::path& path) {
    if (!std::filesystem::exists(path))
        return {};
    const std::vector<uint8_t> file = read_bytes(path);
    if (file.size() < 33 || std::string(file.begin() + 12, file.begin() + 16) != "IHDR" ||
        file[24] != 8 || file[25] != 2)
        return {};
    const int width = static_cast<int>(be32(file, 16)), height = static_cast<int>(be32(file, 20));
    std::vector<uint8_t> z;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = be32(file, at);
        if (length > file.size() - at - 12)
            return {};
        if (std::string(file.begin() + at + 4, file.begin() + at + 8) == "IDAT")
            z.insert(z.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
        at += 12 + length;
    }
    const size_t row = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> raw((row + 1) * static_cast<size_t>(height));
    uLongf size = raw.size();
    if (uncompress(raw.data(), &size, z.data(), z.size()) != Z_OK || size != raw.size())
        return {};
    Picture picture{width, height, {}};
    for (int y = 0; y < height; ++y) {
        if (raw[y * (row + 1)] != 0)
            return {};  // the runtime writes unfiltered rows only
        picture.rgb.insert(picture.rgb.end(), raw.begin() + y * (row + 1) + 1,
                           raw.begin() + (y + 1) * (row + 1));
    }
    return picture;
}

}  // namespace test_support
