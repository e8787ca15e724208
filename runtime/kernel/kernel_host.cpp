#include "runtime/kernel/kernel_host.h"

#include "base/gbk.h"
#include "runtime/kernel/image_location.h"
#include "runtime/kernel/platform.h"
#include "runtime/kernel/runtime.h"
#include "runtime/kernel/slots.h"

namespace kernel {

uint64_t KernelHost::slot(size_t index) {
    return reinterpret_cast<uintptr_t>(slot_routines()[index]);
}

bool KernelHost::load_library(const image::LibraryEntry& library, size_t position) {
    std::vector<void*>& libraries = runtime_.libraries();
    if (libraries.size() <= position)
        libraries.resize(position + 1, nullptr);
    if (position == 0)
        return true;  // the kernel library itself
    auto folder = runtime_folder();
    if (!folder || !base::is_bare_name(library.name))
        return false;
    void* handle = platform::load_library(*folder + library.name + RT_LIBRARY_FILE_SUFFIX);
    libraries[position] = handle;
    return handle != nullptr;
}

std::optional<uint64_t> KernelHost::resolve_dll(const image::DllDeclaration& declaration) {
    return resolve_system_function(declaration);
}

}  // namespace kernel
