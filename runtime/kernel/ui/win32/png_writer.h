// A PNG file of 8-bit RGB pixels, for pictures of windows. The image data is
// stored uncompressed (deflate's stored blocks): pictures are small and the
// files are read by tools, not shipped.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kernel::ui {

// `rgb`: height rows of width × 3 bytes, top row first.
std::vector<uint8_t> encode_png(uint32_t width, uint32_t height, std::span<const uint8_t> rgb);

}  // namespace kernel::ui
