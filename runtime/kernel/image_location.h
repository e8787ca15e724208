// Where the program image lies: the loader passes only its address, so the
// kernel finds the image section of its own executable again and takes the
// section's size, after checking that the address is that section's.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/error_or.h"
#include "base/error.h"

namespace kernel {

// The image's bytes, or why they cannot be had.
base::Result<std::span<const uint8_t>> locate_image(const void* image);

// The folder of the kernel library's own file, with its trailing separator,
// in the system's encoding (UTF-8 on Linux; UTF-8 on Windows too, converted
// to UTF-16 at each call).
std::optional<std::string> runtime_folder();

}  // namespace kernel
