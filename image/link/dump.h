#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "image/link/elf_file.h"

namespace image::link {

// A readable listing of an image, for reviews and for comparing images.
LinkResult<std::string> dump_image(std::span<const uint8_t> bytes);

}  // namespace image::link
