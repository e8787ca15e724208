#include "tests/services/network/web_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace network_test {

BadServer::BadServer(Manner manner) : manner_(manner) {
    listener_ = test_support::loopback_listener(port_);
    if (listener_ < 0) {
        ADD_FAILURE() << "no loopback listener";
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

BadServer::~BadServer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    for (int s : held_)
        close(s);
    if (listener_ >= 0)
        close(listener_);
}

void BadServer::serve() {
    while (!stop_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0)
            continue;
        const int s = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (s < 0)
            continue;
        // The request head, up to its blank line (or what comes in a while).
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            pollfd in{s, POLLIN, 0};
            if (poll(&in, 1, 2000) <= 0)
                break;
            const ssize_t n = recv(s, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            head.append(buffer, static_cast<size_t>(n));
        }
        switch (manner_) {
            case Manner::Close:
                close(s);
                break;
            case Manner::CutShort: {
                const std::string reply =
                    "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nContent-Range: bytes "
                    "0-99/100\r\n\r\n"
                    "0123456789";
                (void)!send(s, reply.data(), reply.size(), MSG_NOSIGNAL);
                close(s);
                break;
            }
            case Manner::Silent:
                held_.push_back(s);
                break;
        }
    }
}

}  // namespace network_test
