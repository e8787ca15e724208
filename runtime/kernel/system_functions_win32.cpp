#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "runtime/kernel/kernel_host.h"
#include "runtime/kernel/services/ansi_functions.h"
#include "runtime/kernel/services/system_functions.h"
#include "runtime/kernel/ui/win32/boards.h"

namespace kernel {

uint64_t resolve_system_function(const image::DllDeclaration& declaration) {
    // With a script taking the user's part, the folder dialog is the
    // runtime's own, answered by the script's folder steps.
    const bool scripted = GetEnvironmentVariableW(L"WJRT_SCRIPT", nullptr, 0) > 1;
    if (scripted && is_folder_dialog_function(declaration.function)) {
        if (const uint64_t own = own_system_function(declaration))
            return own;
    }
    // Without real windows the units' handles are the headless backend's,
    // which name no window of the system: drawing goes to the headless
    // drawing model, never to a window of the system that has that number.
    const char* ui = std::getenv("WJRT_UI");
    if (ui != nullptr && std::strcmp(ui, "headless") == 0 &&
        is_drawing_function(declaration.function)) {
        if (const uint64_t own = own_system_function(declaration))
            return own;
    }
    // Drawing boards keep what is painted through their device contexts.
    if (same_library(declaration.library, "user32")) {
        if (const uint64_t board = ui::win32::board_function(declaration.function))
            return board;
    }
    // Texts in GBK, whatever code page the system has.
    if (const uint64_t wrapper = ansi_function(declaration))
        return wrapper;
    // A declaration without a library names a function of the user interface.
    const std::string library = declaration.library.empty() ? "user32" : declaration.library;
    HMODULE module = LoadLibraryA(library.c_str());
    if (module == nullptr)
        return 0;
    return reinterpret_cast<uintptr_t>(GetProcAddress(module, declaration.function.c_str()));
}

}  // namespace kernel
