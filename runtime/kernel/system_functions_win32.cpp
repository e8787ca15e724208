#include <windows.h>

#include "runtime/kernel/kernel_host.h"

namespace kernel {

uint64_t resolve_system_function(const image::DllDeclaration& declaration) {
    // A declaration without a library names a function of the user interface.
    const std::string library = declaration.library.empty() ? "user32" : declaration.library;
    HMODULE module = LoadLibraryA(library.c_str());
    if (module == nullptr)
        return 0;
    return reinterpret_cast<uintptr_t>(GetProcAddress(module, declaration.function.c_str()));
}

}  // namespace kernel
