#include <windows.h>

#include "runtime/kernel/kernel_host.h"
#include "runtime/kernel/services/ansi_functions.h"
#include "runtime/kernel/services/system_functions.h"

namespace kernel {

uint64_t resolve_system_function(const image::DllDeclaration& declaration) {
    // With a script taking the user's part, the folder dialog is the
    // runtime's own, answered by the script's folder steps.
    const bool scripted = GetEnvironmentVariableW(L"WJRT_SCRIPT", nullptr, 0) > 1;
    if (scripted && is_folder_dialog_function(declaration.function)) {
        if (const uint64_t own = own_system_function(declaration))
            return own;
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
