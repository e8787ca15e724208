// Name resolution and ICMP echo for the kernel commands RT_KERNEL_RESOLVE_HOST
// and RT_KERNEL_PING. One implementation per system (network_posix.cpp,
// network_win32.cpp); network.cpp holds what they share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kernel::network {

// Whether `name` is written as a host name may be: labels of letters,
// digits, '-' and '_' (not starting or ending with '-'), 1 to 63 bytes each,
// joined by dots, at most 253 bytes, an optional final dot. Names that fail
// are never handed to the system's resolver.
bool is_host_name(std::string_view name);

// Whether the system's resolver can be used (Windows starts its sockets
// library once); one implementation per system.
bool resolver_ready();

// The dotted IPv4 address of a host name (a dotted address gives itself);
// nullopt when it cannot be resolved.
std::optional<std::string> resolve_host(std::string_view name);

// Sends one ICMP echo request to a dotted IPv4 address and waits at most
// `time_limit_ms` for its reply: the echo time in milliseconds, or -1 when
// no reply came in time, the address is not a dotted address, or no echo
// can be sent.
int32_t ping(std::string_view address, int32_t time_limit_ms);

}  // namespace kernel::network
