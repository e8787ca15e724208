// Attaching a program image to a loader stub: the image goes into a section
// of its own, named in the section table, behind all of the stub's sections.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/error_or.h"
#include "base/error.h"

namespace loader {

template <typename T>
using ToolResult = base::Result<T>;

// ELF64: the image is placed at a 4096-byte boundary behind the stub's bytes
// and named by a new entry of a rewritten section table.
ToolResult<std::vector<uint8_t>> attach_image_elf(std::span<const uint8_t> stub,
                                                  std::span<const uint8_t> image);

// PE32 and PE32+: a new initialised, read-only data section behind the last
// one; its stored size is the image length rounded up to 4096 bytes.
ToolResult<std::vector<uint8_t>> attach_image_pe(std::span<const uint8_t> stub,
                                                 std::span<const uint8_t> image);

// Chooses by the stub's format.
ToolResult<std::vector<uint8_t>> attach_image(std::span<const uint8_t> stub,
                                              std::span<const uint8_t> image);

}  // namespace loader
