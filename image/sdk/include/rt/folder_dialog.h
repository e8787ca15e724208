// The system's folder choice (the shell's browse dialog rooted at the
// desktop). It goes through the Windows functions that the program's
// description declares under these aliases:
//
//   dll get_folder_location "shell32" SHGetFolderLocation
//   dll browse_for_folder "shell32" SHBrowseForFolderA
//   dll path_from_id_list "shell32" SHGetPathFromIDListA
//   dll free_task_memory "ole32" CoTaskMemFree
#pragma once

#include "rt/text.h"
#include "rt/window.h"

namespace rt {

// The folder chosen in a dialog owned by `owner` with `title`, without a
// final separator; a drive root is its letter and colon ("C:"), a network
// item without a path "\\" and its name. Empty when the choice was
// cancelled or its name holds characters that the code page lacks.
Text choose_folder(const Window& owner, const char* title);

}  // namespace rt
