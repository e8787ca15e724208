// Shortcut files, through the support library pbshell (the program's
// description must list it: `library pbshell`).
#pragma once

#include "rt/args.h"
#include "rt/markers.h"
#include "rt/slots.h"

namespace rt {

// Writes the shortcut file `path` (replacing one of that name) that starts
// `target` in `working_folder`, with `comment` as its description. All texts
// GBK. False when it could not be written.
inline bool write_shortcut(const char* path, const char* target, const char* comment,
                           const char* working_folder) {
    auto block = arguments(text(path), text(target), text(comment), text(working_folder));
    return rt_library_command(RT_LIBRARY(pbshell), RT_PBSHELL_WRITE_SHORTCUT, block.get()) != 0;
}

}  // namespace rt
