#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/byte_reader.h"
#include "runtime/kernel/services/network.h"

namespace kernel::network {

namespace {

// An ICMP echo message (RFC 792) as sent and as received after the IP
// header: the 8-byte header, then the data that the reply repeats.
struct EchoHeader {
    uint8_t type;         // 8 request, 0 reply
    uint8_t code;         // 0
    uint16_t checksum;    // ones' complement sum over the whole message
    uint16_t identifier;  // which sender (a ping socket puts its own here)
    uint16_t sequence;    // which request of that sender
};
constexpr size_t kEchoHeaderSize = 8;
constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoReply = 0;
constexpr size_t kPayloadSize = 32;

// Network byte order for the 16-bit fields, as the wire has them.
void store_be16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
uint16_t load_be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint16_t internet_checksum(const uint8_t* data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2)
        sum += load_be16(data + i);
    if (size % 2 != 0)
        sum += static_cast<uint32_t>(data[size - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

std::array<uint8_t, kEchoHeaderSize + kPayloadSize> echo_request(const EchoHeader& header,
                                                                 uint32_t token) {
    std::array<uint8_t, kEchoHeaderSize + kPayloadSize> message{};
    message[0] = header.type;
    message[1] = header.code;
    store_be16(message.data() + 4, header.identifier);
    store_be16(message.data() + 6, header.sequence);
    for (size_t i = 0; i < kPayloadSize; ++i)
        message[kEchoHeaderSize + i] = static_cast<uint8_t>((token >> (8 * (i % 4))) + i);
    store_be16(message.data() + 2, internet_checksum(message.data(), message.size()));
    return message;
}

struct Socket {
    int fd = -1;
    bool raw = false;  // a raw socket receives IP headers and every ICMP message
    ~Socket() {
        if (fd >= 0)
            close(fd);
    }
};

// An unprivileged ping socket where the system allows one to this user
// (net.ipv4.ping_group_range), else a raw socket.
bool open_icmp_socket(Socket& out) {
    out.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (out.fd >= 0)
        return true;
    out.fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    out.raw = true;
    return out.fd >= 0;
}

std::atomic<uint16_t> next_sequence{1};

}  // namespace

bool resolver_ready() {
    return true;
}

int32_t ping(std::string_view address, int32_t time_limit_ms) {
    using Clock = std::chrono::steady_clock;
    const std::string text(address);
    in_addr target{};
    if (time_limit_ms <= 0 || inet_pton(AF_INET, text.c_str(), &target) != 1)
        return -1;
    Socket sock;
    if (!open_icmp_socket(sock))
        return -1;

    uint16_t identifier = static_cast<uint16_t>(getpid());
    const uint16_t sequence = next_sequence.fetch_add(1);
    const auto start = Clock::now();
    const uint32_t token =
        static_cast<uint32_t>(start.time_since_epoch().count()) ^ (uint32_t{sequence} << 16);
    const auto request = echo_request({kEchoRequest, 0, 0, identifier, sequence}, token);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = target;
    if (sendto(sock.fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to) != static_cast<ssize_t>(request.size()))
        return -1;
    if (!sock.raw) {
        // A ping socket sends with the identifier of its own "port", which
        // it is given on its first send.
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (getsockname(sock.fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            return -1;
        identifier = ntohs(local.sin_port);
    }

    const auto deadline = start + std::chrono::milliseconds(time_limit_ms);
    std::array<uint8_t, 1500> buffer;
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline)
            return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        pollfd waiting{sock.fd, POLLIN, 0};
        const int ready = poll(&waiting, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return -1;
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        const ssize_t got = recvfrom(sock.fd, buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &from_length);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return -1;
        }
        const base::ByteView packet(std::span(buffer.data(), static_cast<size_t>(got)));
        size_t at = 0;
        if (sock.raw) {
            // Skip the IP header: its length is the low nibble of the first byte, in words.
            if (!packet.has(0, 1))
                continue;
            at = static_cast<size_t>(buffer[0] & 0x0F) * 4;
        }
        auto message = packet.slice(at, request.size());
        if (!message || from.sin_addr.s_addr != target.s_addr)
            continue;
        const uint8_t* m = message->data();
        // Our reply: its type, our identifier and sequence, our data repeated.
        if (m[0] != kEchoReply || m[1] != 0 || load_be16(m + 4) != identifier ||
            load_be16(m + 6) != sequence ||
            std::memcmp(m + kEchoHeaderSize, request.data() + kEchoHeaderSize, kPayloadSize) != 0)
            continue;
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        return static_cast<int32_t>(elapsed);
    }
}

}  // namespace kernel::network
