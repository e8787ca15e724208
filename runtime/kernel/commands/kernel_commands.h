// The kernel commands, one group per service; each group lives in its own
// file and lists its commands with their argument counts. The runtime
// services (service_commands.cpp) list the kinds of their four values.
#pragma once

#include <span>

#include "runtime/kernel/commands/arguments.h"

namespace kernel {

std::span<const KernelCommand> window_commands();
std::span<const KernelCommand> profile_commands();
std::span<const KernelCommand> file_commands();
std::span<const KernelCommand> process_commands();
std::span<const KernelCommand> network_commands();
std::span<const KernelCommand> object_commands();
std::span<const KernelCommand> event_commands();

// The command numbered `number`, or null.
const KernelCommand* find_kernel_command(int32_t number);
// The runtime service numbered `number` (RT_SLOT_SERVICE), or null.
const RuntimeService* find_runtime_service(int32_t number);

}  // namespace kernel
