// Icon files (.ico), as a window's form carries its program icon: a
// directory of images of several sizes, each a bitmap without its file
// header (or a PNG), which the system makes icons of.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/error.h"
#include "base/error_or.h"

namespace kernel::ui {

// The file's header (6 bytes).
struct IconDirectoryRecord {
    uint16_t reserved;  // 0
    uint16_t type;      // 1 for icons (2 would be cursors)
    uint16_t count;     // the number of images, at least 1
};

// One image's entry in the directory (16 bytes each, after the header).
struct IconEntryRecord {
    uint8_t width;         // pixels; 0 stands for 256
    uint8_t height;        // pixels; 0 stands for 256
    uint8_t colour_count;  // palette entries, 0 for images of 8 bits or more
    uint8_t reserved;      // 0
    uint16_t planes;       // 0 or 1
    uint16_t bit_count;    // bits per pixel
    uint32_t size;         // the image's bytes
    uint32_t offset;       // where they start in the file
};

inline constexpr size_t kIconDirectorySize = 6;
inline constexpr size_t kIconEntrySize = 16;

struct IconImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 0;                // per pixel
    std::span<const uint8_t> bytes;  // within the file
};

// The images of the icon file `file`, in the order of its directory; an
// error names what is wrong: not an icon file, no image, an image that
// lies outside the file.
base::Result<std::vector<IconImage>> read_icon_file(std::span<const uint8_t> file);

}  // namespace kernel::ui
