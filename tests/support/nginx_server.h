// nginx as the web server of tests and benchmarks: one process on
// 127.0.0.1 at a free port, serving the files of a folder, with its own
// scratch prefix (configuration, logs, temporary folders), stopped and
// removed when the object goes. Connections are kept alive for as many
// requests as a client makes; the access log names each request's
// connection, so a test can tell whether requests shared one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

class NginxServer {
  public:
    struct Request {
        long connection = 0;  // nginx's serial number of the connection
        int status = 0;
        std::string uri;
        std::string range;  // the Range header as sent, "-" when none
    };

    // Starts nginx serving `root`; running() tells whether it came up.
    explicit NginxServer(const std::filesystem::path& root);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Whether nginx is installed at all (tests skip without it).
    static bool installed();

    bool running() const { return pid_ > 0; }
    // Why it did not come up.
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // "http://127.0.0.1:<port>/" followed by `path`.
    std::string address(std::string_view path = "") const;
    // Every request served so far, in order.
    std::vector<Request> requests() const;

  private:
    bool start_at(int port, const std::filesystem::path& root);
    void stop();

    std::filesystem::path prefix_;
    int pid_ = -1;
    int port_ = 0;
    std::string error_;
};

// A port on 127.0.0.1 that nothing listens on right now.
int free_loopback_port();

}  // namespace test_support
