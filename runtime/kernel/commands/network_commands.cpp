#include "runtime/kernel/commands/kernel_commands.h"

namespace kernel {

std::span<const KernelCommand> network_commands() {
    return {};
}

}  // namespace kernel
