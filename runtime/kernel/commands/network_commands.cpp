// Name resolution and ICMP echo (services/network.h).
#include "runtime/kernel/commands/kernel_commands.h"
#include "runtime/kernel/runtime.h"
#include "runtime/kernel/services/network.h"

namespace kernel {

namespace {

int64_t resolve_host(const Arguments& a) {
    auto dotted = network::resolve_host(a.text(0));
    if (!dotted)
        return 0;
    return a.runtime().new_text(*dotted);
}

int64_t ping(const Arguments& a) {
    const std::string address = a.text(0);
    return network::ping(address, a.integer(1));
}

constexpr KernelCommand kCommands[] = {
    {RT_KERNEL_RESOLVE_HOST, 1, false, resolve_host},
    {RT_KERNEL_PING, 2, false, ping},
};

}  // namespace

std::span<const KernelCommand> network_commands() {
    return kCommands;
}

}  // namespace kernel
