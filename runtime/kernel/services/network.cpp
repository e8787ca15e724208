#include "runtime/kernel/services/network.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace kernel::network {

namespace {

std::optional<std::string> first_ipv4(const char* name, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return std::nullopt;
    std::optional<std::string> dotted;
    for (addrinfo* at = found; at != nullptr && !dotted; at = at->ai_next) {
        if (at->ai_family != AF_INET || at->ai_addrlen < sizeof(sockaddr_in))
            continue;
        char text[INET_ADDRSTRLEN];
        auto* address = reinterpret_cast<sockaddr_in*>(at->ai_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr)
            dotted = text;
    }
    freeaddrinfo(found);
    return dotted;
}

}  // namespace

std::optional<std::string> resolve_host(std::string_view name) {
    if (!resolver_ready())
        return std::nullopt;
    const std::string text(name);
    if (auto dotted = first_ipv4(text.c_str(), AI_NUMERICHOST))
        return dotted;
    // Host names are ASCII: the narrow call needs no conversion.
    if (!is_host_name(name))
        return std::nullopt;
    return first_ipv4(text.c_str(), 0);
}

bool is_host_name(std::string_view name) {
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    if (name.empty() || name.size() > 253)
        return false;
    size_t label_start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '.') {
            const std::string_view label = name.substr(label_start, i - label_start);
            if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
                return false;
            label_start = i + 1;
            continue;
        }
        const char c = name[i];
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!allowed)
            return false;
    }
    return true;
}

}  // namespace kernel::network
