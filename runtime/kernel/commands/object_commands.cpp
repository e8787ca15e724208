#include "runtime/kernel/commands/kernel_commands.h"

namespace kernel {

std::span<const KernelCommand> object_commands() {
    return {};
}

}  // namespace kernel
