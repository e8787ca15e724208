// The text-taking ANSI functions that images declare, as the runtime's own
// wrappers over the system's wide functions with code page 936 (Windows).
//
// Programs hand these functions GBK texts and read GBK back. The system's
// ANSI functions would take the system's code page instead, so on a Western
// Windows (code page 1252) a title shows as mojibake and a folder with a
// Chinese name cannot be given back at all. The wrappers convert at the
// boundary, whatever language the system is set to:
//
//   shell32   SHBrowseForFolderA   over SHBrowseForFolderW (title, display
//                                  name; a callback gets GBK texts, and the
//                                  ANSI messages it sends the dialog are
//                                  passed on as wide ones)
//             SHGetPathFromIDListA over SHGetPathFromIDListW (false for a
//                                  path that GBK cannot spell or that does
//                                  not fit MAX_PATH bytes)
#pragma once

#include <cstdint>

#include "image/format/image.h"

namespace kernel {

// The wrapper's address, 0 when the declaration names none of them.
uint64_t ansi_function(const image::DllDeclaration& declaration);

}  // namespace kernel
