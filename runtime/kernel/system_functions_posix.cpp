#include "runtime/kernel/kernel_host.h"
#include "runtime/kernel/services/system_functions.h"

namespace kernel {

uint64_t resolve_system_function(const image::DllDeclaration& declaration) {
    // Linux has none of the Windows functions: the runtime's own stand in.
    return own_system_function(declaration);
}

}  // namespace kernel
