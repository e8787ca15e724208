// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <vector>

#include "runtime/kernel/services/network.h"

namespace kernel::network {

namespace {

// Winsock is started once for the process and left running.
bool winsock_ready() {
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

}  // namespace

bool resolver_ready() {
    return winsock_ready();
}

int32_t ping(std::string_view address, int32_t time_limit_ms) {
    const std::string text(address);
    in_addr target{};
    if (time_limit_ms <= 0 || !winsock_ready() || inet_pton(AF_INET, text.c_str(), &target) != 1)
        return -1;
    HANDLE icmp = IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE)
        return -1;
    char data[32];
    for (size_t i = 0; i < sizeof data; ++i)
        data[i] = static_cast<char>('a' + i % 23);
    // Room for one reply with its data, and the error information that
    // IcmpSendEcho may put behind it.
    std::vector<unsigned char> reply(sizeof(ICMP_ECHO_REPLY) + sizeof data + 8 + 64);
    const DWORD count =
        IcmpSendEcho(icmp, target.S_un.S_addr, data, sizeof data, nullptr, reply.data(),
                     static_cast<DWORD>(reply.size()), static_cast<DWORD>(time_limit_ms));
    IcmpCloseHandle(icmp);
    if (count == 0)
        return -1;
    const auto* echo = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply.data());
    if (echo->Status != IP_SUCCESS || echo->Address != target.S_un.S_addr ||
        echo->RoundTripTime > static_cast<ULONG>(time_limit_ms))
        return -1;
    return static_cast<int32_t>(echo->RoundTripTime);
}

}  // namespace kernel::network
