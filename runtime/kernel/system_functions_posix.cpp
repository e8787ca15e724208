#include "runtime/kernel/kernel_host.h"

namespace kernel {

uint64_t resolve_system_function(const image::DllDeclaration&) {
    // The Linux runtime's own implementations of the Windows functions that
    // images declare come with the runtime services.
    return 0;
}

}  // namespace kernel
