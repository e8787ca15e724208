// Turning a linked ELF (made with the SDK's linker script and --emit-relocs)
// and the program description into a program image.
#pragma once

#include <vector>

#include "image/format/image.h"
#include "image/link/description.h"
#include "image/link/elf_file.h"

namespace image::link {

// The form segment as the code is linked with it before the routines'
// offsets are known: every handler offset is 0. Its size is final.
LinkResult<std::vector<uint8_t>> placeholder_form(const ProgramDescription& description);

// The passes, in order:
//   1. the architecture, from the ELF machine;
//   2. the segments: .const, .form, .help, .code, .var; an empty .data, no
//      other allocated section;
//   3. every relocation of .code and .const: absolute ones become fixups of
//      their target's kind, marker references fill the relocation lists,
//      slot table references become slot thunk fixups; position-relative
//      ones must stay inside the image;
//   4. the slot thunk table: one thunk per slot used, ending the code right
//      after the start routine;
//   5. the forms, with handlers resolved to code offsets;
//   6. the header values: start routine, next free identifier.
LinkResult<Image> link_image(const ElfFile& elf, const ProgramDescription& description);

}  // namespace image::link
