// The web servers of the network tests: nginx serving a small site, and a
// raw loopback server that misbehaves on purpose.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/nginx_server.h"
#include "tests/support/test_support.h"

namespace network_test {

namespace fs = std::filesystem;

// whole.bin: 25000 bytes, so 10240-byte ranges end with a short one.
constexpr size_t kWholeSize = 25000;

inline std::vector<uint8_t> whole_content() {
    std::vector<uint8_t> bytes(kWholeSize);
    uint32_t x = 12345;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

inline int64_t sum_of(const std::vector<uint8_t>& bytes, size_t from = 0, size_t count = SIZE_MAX) {
    int64_t sum = 0;
    for (size_t i = from; i < bytes.size() && i - from < count; ++i)
        sum += bytes[i];
    return sum;
}

// The site: whole.bin, an empty file, and a file with a Chinese name
// (stored under its UTF-8 name, which is how the address asks for it).
class Site {
  public:
    Site() {
        test_support::write_bytes(folder_ / "whole.bin", whole_content());
        test_support::write_bytes(folder_ / "empty.txt", std::vector<uint8_t>{});
        const std::string hello = "hello";
        test_support::write_bytes(folder_ / "文件.txt",
                                  std::vector<uint8_t>(hello.begin(), hello.end()));
    }
    const fs::path& folder() const { return folder_.path(); }

  private:
    test_support::ScratchDir folder_;
};

// A loopback server that answers every connection the same wrong way.
class BadServer {
  public:
    enum class Manner {
        Close,     // reads the request, closes without a word
        CutShort,  // announces 100 bytes of body, sends 10, closes
        Silent,    // reads the request and never answers
    };

    explicit BadServer(Manner manner);
    ~BadServer();
    BadServer(const BadServer&) = delete;
    BadServer& operator=(const BadServer&) = delete;

    int port() const { return port_; }
    std::string address(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
    }

  private:
    void serve();

    Manner manner_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<int> held_;
    std::thread thread_;
};

}  // namespace network_test
