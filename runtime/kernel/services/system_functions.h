// The runtime's own implementations of the Windows functions that program
// images declare, for systems that have none (and, for the folder dialog,
// for runs whose user's part comes from a script). Each has the contract of
// the Windows function of that name and is called as a plain function of the
// platform (stdcall on i386).
//
//   user32    CallWindowProcA, SetRect, GetDC, ReleaseDC, SetWindowRgn
//   gdi32     CreateRoundRectRgn
//   msimg32   GradientFill
//   shell32   SHGetFolderLocation, SHBrowseForFolderA, SHGetPathFromIDListA
//   ole32     CoTaskMemFree
//
// Drawing goes to the headless drawing model (headless_drawing.h) on the
// units that the backend's handles name. The folder dialog is the user
// interface's (its script steps choose-folder and cancel-folder); the item
// id lists are the runtime's own blocks: the desktop (the dialog's root) and
// chosen folders, released by CoTaskMemFree.
#pragma once

#include <cstdint>
#include <string_view>

#include "image/format/image.h"

namespace kernel {

// The address of the runtime's function for the declaration, 0 when it has
// none. The library name is compared without regard to case, with or
// without ".dll"; an empty one names user32.
uint64_t own_system_function(const image::DllDeclaration& declaration);

// Whether a declaration's library names `library` (lower case, without
// ".dll"): case ignored, with or without ".dll"; an empty one names user32.
bool same_library(std::string_view declared, std::string_view library);

// Whether the function belongs to the folder dialog.
bool is_folder_dialog_function(std::string_view function);

// Whether the function draws on a window or unit by its handle (GetDC,
// ReleaseDC, SetWindowRgn, CreateRoundRectRgn, GradientFill).
bool is_drawing_function(std::string_view function);

}  // namespace kernel
