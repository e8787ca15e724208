#include "tests/support/fault_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include "tests/support/test_support.h"

namespace test_support {

namespace {

bool send_all(int s, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(s, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string trim(const std::string& text) {
    const size_t from = text.find_first_not_of(" \t");
    if (from == std::string::npos)
        return "";
    const size_t to = text.find_last_not_of(" \t\r");
    return text.substr(from, to - from + 1);
}

// "bytes=a-b" or "bytes=a-"; false for anything else.
bool parse_range(const std::string& value, uint64_t& first, uint64_t& last) {
    if (value.rfind("bytes=", 0) != 0)
        return false;
    const std::string spec = value.substr(6);
    const size_t dash = spec.find('-');
    if (dash == std::string::npos || dash == 0)
        return false;
    char* end = nullptr;
    first = std::strtoull(spec.c_str(), &end, 10);
    if (end != spec.c_str() + dash)
        return false;
    if (dash + 1 == spec.size()) {
        last = UINT64_MAX;
        return true;
    }
    last = std::strtoull(spec.c_str() + dash + 1, &end, 10);
    return *end == '\0' && last >= first;
}

}  // namespace

FaultHttpServer::FaultHttpServer(std::vector<uint8_t> content) : content_(std::move(content)) {
    listener_ = loopback_listener(port_);
    if (listener_ < 0)
        return;
    thread_ = std::thread([this] { serve(); });
}

FaultHttpServer::~FaultHttpServer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        close(listener_);
}

std::string FaultHttpServer::address(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

void FaultHttpServer::plan(std::vector<Fault> faults) {
    std::lock_guard lock(mutex_);
    plan_ = std::move(faults);
    planned_ = 0;
}

void FaultHttpServer::set_not_found_reason(std::string reason) {
    std::lock_guard lock(mutex_);
    not_found_reason_ = std::move(reason);
}

std::vector<FaultHttpServer::Request> FaultHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void FaultHttpServer::serve_file(const std::string& target, std::vector<uint8_t> content) {
    std::lock_guard lock(mutex_);
    files_[target] = std::move(content);
}

void FaultHttpServer::plan_for(const std::string& target, std::vector<Fault> faults) {
    std::lock_guard lock(mutex_);
    target_plans_[target] = Plan{std::move(faults), 0};
}

FaultHttpServer::Fault FaultHttpServer::next_fault(const std::string& target) {
    std::lock_guard lock(mutex_);
    if (auto own = target_plans_.find(target); own != target_plans_.end()) {
        Plan& p = own->second;
        return p.served < p.faults.size() ? p.faults[p.served++] : Fault::None;
    }
    return planned_ < plan_.size() ? plan_[planned_++] : Fault::None;
}

void FaultHttpServer::serve() {
    int connections = 0;
    while (!stop_) {
        // Gone: poll waits out its time on no descriptor.
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0 || listener_ < 0)
            continue;
        const int s = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (s < 0)
            continue;
        ++connections;
        std::string pending;
        while (!stop_ && serve_request(s, pending, connections)) {
        }
        close(s);
    }
}

bool FaultHttpServer::serve_request(int s, std::string& pending, int connection) {
    // The request head, up to its blank line; requests carry no body.
    size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
        if (stop_)
            return false;
        pollfd in{s, POLLIN, 0};
        const int ready = poll(&in, 1, 50);
        if (ready == 0)
            continue;
        char buffer[4096];
        const ssize_t n = ready < 0 ? -1 : recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        pending.append(buffer, static_cast<size_t>(n));
    }
    const std::string head = pending.substr(0, end);
    pending.erase(0, end + 4);

    Request request;
    request.connection = connection;
    request.range = "-";
    size_t line_end = head.find("\r\n");
    const std::string first_line = head.substr(0, line_end);
    const size_t space = first_line.find(' ');
    request.method = first_line.substr(0, space);
    request.target = first_line.substr(space + 1, first_line.rfind(' ') - space - 1);
    while (line_end != std::string::npos) {
        const size_t from = line_end + 2;
        line_end = head.find("\r\n", from);
        const std::string line =
            head.substr(from, line_end == std::string::npos ? std::string::npos : line_end - from);
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        request.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
        if (lower(line.substr(0, colon)) == "range")
            request.range = request.headers.back().second;
    }
    const Fault fault = next_fault(request.target);
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    if (before_reply_)
        before_reply_(request);
    bool keep = true;
    reply(s, request, fault, keep);
    return keep;
}

void FaultHttpServer::reply(int s, const Request& request, Fault fault, bool& keep) {
    const std::vector<uint8_t>* content = &content_;
    {
        std::lock_guard lock(mutex_);
        if (auto file = files_.find(request.target); file != files_.end())
            content = &file->second;
    }
    const uint64_t size = content->size();
    uint64_t first = 0;
    uint64_t last = 0;
    const bool ranged = parse_range(request.range, first, last);
    auto bytes = [&](uint64_t from, uint64_t count) {
        return std::string(reinterpret_cast<const char*>(content->data()) + from, count);
    };
    auto head = [](const std::string& status, uint64_t length, const std::string& extra) {
        return "HTTP/1.1 " + status +
               "\r\nServer: fault\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra +
               "\r\n";
    };
    auto whole = [&] {
        send_all(
            s, head("200 OK", size, "Content-Type: application/octet-stream\r\n") + bytes(0, size));
    };

    switch (fault) {
        case Fault::IgnoreRange:
            whole();
            return;
        case Fault::NotFound: {
            std::string reason;
            {
                std::lock_guard lock(mutex_);
                reason = not_found_reason_;
            }
            const std::string page = "<html><body>not here</body></html>";
            send_all(s, head("404 " + reason, page.size(), "Content-Type: text/html\r\n") + page);
            return;
        }
        case Fault::Unsatisfiable:
            send_all(s, head("416 Requested Range Not Satisfiable", 0,
                             "Content-Range: bytes */" + std::to_string(size) + "\r\n"));
            return;
        case Fault::Gone:
            // Served on this thread only, so the listener goes here.
            close(listener_);
            listener_ = -1;
            keep = false;
            return;
        case Fault::Stall: {
            // Nothing is sent; the client's going ends the wait early.
            const auto until =
                std::chrono::steady_clock::now() + std::chrono::seconds(stall_seconds_.load());
            while (!stop_ && std::chrono::steady_clock::now() < until) {
                pollfd in{s, POLLIN, 0};
                if (poll(&in, 1, 50) > 0) {
                    char buffer[256];
                    if (recv(s, buffer, sizeof buffer, MSG_DONTWAIT) <= 0)
                        break;
                }
            }
            keep = false;
            return;
        }
        default:
            break;
    }

    if (!ranged) {
        whole();
        return;
    }
    if (first >= size) {
        send_all(s, head("416 Requested Range Not Satisfiable", 0,
                         "Content-Range: bytes */" + std::to_string(size) + "\r\n"));
        return;
    }
    last = std::min(last, size - 1);
    uint64_t shown_first = first;
    uint64_t shown_last = last;
    std::string total = std::to_string(size);
    std::string body = bytes(first, last - first + 1);
    bool with_range = true;
    switch (fault) {
        case Fault::WrongStart:
            shown_first = first + 1;
            body = bytes(shown_first, last - shown_first + 1);
            break;
        case Fault::NoTotal:
            total = "*";
            break;
        case Fault::TotalNotNumber:
            total = "many";
            break;
        case Fault::TotalChanged:
            total = std::to_string(size + 1);
            break;
        case Fault::Total2GB:
            total = "2147483648";
            break;
        case Fault::LastBeforeFirst:
            shown_last = first - 1;
            break;
        case Fault::ShortBody:
            body.resize(body.size() / 2);
            break;
        case Fault::NoContentRange:
            with_range = false;
            break;
        default:
            break;
    }
    const std::string range_line = with_range
                                       ? "Content-Range: bytes " + std::to_string(shown_first) +
                                             "-" + std::to_string(shown_last) + "/" + total + "\r\n"
                                       : "";
    if (fault == Fault::Trickle) {
        if (!send_all(s, head("206 Partial Content", body.size(), range_line))) {
            keep = false;
            return;
        }
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::seconds(stall_seconds_.load());
        for (size_t sent = 0;
             sent < body.size() && !stop_ && std::chrono::steady_clock::now() < until; ++sent) {
            // The client's going (its end of the connection closed) ends it early.
            pollfd in{s, POLLIN, 0};
            if (poll(&in, 1, 500) > 0) {
                char buffer[256];
                if (recv(s, buffer, sizeof buffer, MSG_DONTWAIT) <= 0)
                    break;
            }
            if (!send_all(s, body.substr(sent, 1)))
                break;
        }
        keep = false;
        return;
    }
    if (fault == Fault::DropMidBody) {
        send_all(s, head("206 Partial Content", body.size(), range_line) +
                        body.substr(0, body.size() / 2));
        keep = false;
        return;
    }
    send_all(s, head("206 Partial Content", body.size(), range_line) + body);
}

}  // namespace test_support
