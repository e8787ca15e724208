#include "runtime/kernel/commands/kernel_commands.h"

namespace kernel {

std::span<const KernelCommand> process_commands() {
    return {};
}

}  // namespace kernel
