// Name resolution and ICMP echo, kernel commands.
#pragma once

#include <stdint.h>

#include "rt/args.h"
#include "rt/slots.h"
#include "rt/text.h"

namespace rt {

// The dotted IPv4 address of a host name ("127.0.0.1" for "localhost"; a
// dotted address gives itself); the empty text when it cannot be resolved.
inline Text resolve_host(const char* name) {
    auto block = arguments(text(name));
    return Text::adopt(
        static_cast<intptr_t>(rt_kernel_command(RT_KERNEL_RESOLVE_HOST, block.get())));
}

// One ICMP echo to a dotted IPv4 address: the echo time in milliseconds, or
// -1 when no echo came within `time_limit_ms`.
inline int32_t ping(const char* address, int32_t time_limit_ms) {
    auto block = arguments(text(address), integer(time_limit_ms));
    return static_cast<int32_t>(rt_kernel_command(RT_KERNEL_PING, block.get()));
}

}  // namespace rt
