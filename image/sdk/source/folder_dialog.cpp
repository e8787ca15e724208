// The folder choice through the shell's functions, as the program declares
// them (see rt/folder_dialog.h).
#include "rt/folder_dialog.h"

#include "rt/dll.h"
#include "rt/gbk.h"
#include "rt/markers.h"

namespace rt {

namespace {

// BROWSEINFOA as shell32 takes it, pointers in the image's size.
struct BrowseInfo {
    intptr_t owner;         // the window that owns the dialog
    intptr_t root;          // item id list of the dialog's root
    intptr_t display_name;  // 260-byte buffer for the chosen item's name
    intptr_t title;         // the text above the tree
    uint32_t flags;         // BIF_* bits
    intptr_t callback;      // none
    intptr_t parameter;     // the callback's
    int32_t image;          // out: the chosen item's icon
};

constexpr uint32_t kBrowseFlags = 0x77;  // file system folders, edit box, status, new style
constexpr uint32_t kPathBuffer = 260;

uint32_t length_of(const char* text) {
    uint32_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

}  // namespace

Text choose_folder(const Window& owner, const char* title) {
    const intptr_t owner_handle = owner.handle();
    intptr_t root = 0;
    call_dll(RT_DLL(get_folder_location), owner_handle, 0, 0, 0, &root);

    char display_name[kPathBuffer + 1] = {};
    BrowseInfo info{owner_handle,
                    root,
                    reinterpret_cast<intptr_t>(display_name),
                    reinterpret_cast<intptr_t>(title),
                    kBrowseFlags,
                    0,
                    0,
                    0};
    const intptr_t chosen = call_dll(RT_DLL(browse_for_folder), &info);

    // The display name without surrounding blanks.
    char* name = display_name;
    while (*name == ' ')
        ++name;
    uint32_t name_length = length_of(name);
    while (name_length > 0 && name[name_length - 1] == ' ')
        --name_length;
    name[name_length] = '\0';

    // Room for a path of the buffer's size or "\\" and a name of it.
    char result[kPathBuffer + 3] = {};
    if (contains_char(name, '?')) {
        // A name with characters outside the code page: no usable path.
    } else if (chosen != 0) {
        char path[kPathBuffer + 1] = {};
        if (call_dll(RT_DLL(path_from_id_list), chosen, path) != 0) {
            uint32_t length = length_of(path);
            if (length == 3 && path[1] == ':') {
                length = 2;  // a drive root: its letter and colon
            } else {
                // The folder without a final separator, as every path is built on it.
                while (length > 3 && ends_with_separator(path))
                    path[--length] = '\0';
            }
            for (uint32_t i = 0; i < length; ++i)
                result[i] = path[i];
        }
    } else if (name_length > 0) {
        result[0] = result[1] = '\\';
        for (uint32_t i = 0; i < name_length; ++i)
            result[2 + i] = name[i];
    }
    call_dll(RT_DLL(free_task_memory), chosen);
    call_dll(RT_DLL(free_task_memory), root);
    return Text::copy(result);
}

}  // namespace rt
