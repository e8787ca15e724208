// Profile (INI) files: GBK paths, a backslash between folders on every
// system. Names of sections and keys are compared without regard to case; a
// missing file, section or key reads as the empty text. A write keeps the
// file's other lines as they are and creates the file when it is missing.
#pragma once

#include <stdint.h>

#include "rt/args.h"
#include "rt/slots.h"
#include "rt/text.h"

namespace rt {

// The value of `key` in `section` of `file`, trimmed, surrounding quotes dropped.
inline Text read_profile(const char* file, const char* section, const char* key) {
    auto block = arguments(text(file), text(section), text(key));
    return Text::adopt(
        static_cast<intptr_t>(rt_kernel_command(RT_KERNEL_READ_PROFILE, block.get())));
}

// Sets `key` in `section` of `file` to `value`; false when the file cannot
// be written, or a name is empty or holds a line break (or the key '='), or
// the value holds a line break.
inline bool write_profile(const char* file, const char* section, const char* key,
                          const char* value) {
    auto block = arguments(text(file), text(section), text(key), text(value));
    return rt_kernel_command(RT_KERNEL_WRITE_PROFILE, block.get()) != 0;
}

}  // namespace rt
