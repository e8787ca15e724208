#include "runtime/kernel/commands/kernel_commands.h"

namespace kernel {

std::span<const KernelCommand> profile_commands() {
    return {};
}

}  // namespace kernel
