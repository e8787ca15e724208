// An HTTP/1.1 server of the tests' own on 127.0.0.1 (a free port) that
// serves one byte buffer at every path, with correct ranged replies unless
// a request is given a fault. Connections are kept alive; requests are
// served one connection at a time, in order, which is how a single request
// object talks to it.
//
//   FaultHttpServer server(content);
//   server.plan({Fault::None, Fault::DropMidBody});   // request 1 good, request 2 dropped
//   ... fetch server.address("a.zip") ...
//   server.requests()[1].range == "bytes=10240-20479"
//
// Requests beyond the plan are served correctly. Every request is recorded
// with its headers in the order they came. A target may have bytes and a
// plan of its own, so that one file of a directory misbehaves:
//
//   server.serve_file("/updates/x.dll.zip", archive);
//   server.plan_for("/updates/x.dll.zip", {Fault::None, Fault::WrongStart});
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace test_support {

class FaultHttpServer {
  public:
    enum class Fault {
        None,             // 206 with the range asked for, 200 without a Range header
        IgnoreRange,      // 200 with the whole buffer
        WrongStart,       // 206 whose Content-Range (and body) start one byte later
        NoTotal,          // Content-Range "bytes a-b/*"
        TotalNotNumber,   // Content-Range "bytes a-b/many"
        TotalChanged,     // Content-Range total one more than the buffer's length
        Total2GB,         // Content-Range total 2147483648, the range and body as asked
        LastBeforeFirst,  // Content-Range "bytes a-(a-1)/N" (a above 0), the body as asked
        ShortBody,        // the range's Content-Range, half its body (Content-Length matches)
        NoContentRange,   // 206 without Content-Range
        DropMidBody,      // announces the whole range, sends half of it, closes
        Stall,            // sends nothing; closes after stall_seconds or when the client goes
        NotFound,         // 404 with the reason phrase not_found_reason and an HTML body
        Unsatisfiable,    // 416 "bytes */N" whatever was asked
        Trickle,          // the range's head, then one body byte every 500 ms until
                          // stall_seconds or the client goes
        Gone,             // no reply, the connection closed and the port no longer
                          // listened on: every later request finds no server
    };

    struct Request {
        std::string method;
        std::string target;
        std::string range;  // the Range header's value, "-" when none came
        std::vector<std::pair<std::string, std::string>> headers;  // in order, as sent
        int connection = 0;                                        // from 1
    };

    explicit FaultHttpServer(std::vector<uint8_t> content);
    ~FaultHttpServer();
    FaultHttpServer(const FaultHttpServer&) = delete;
    FaultHttpServer& operator=(const FaultHttpServer&) = delete;

    bool running() const { return port_ != 0; }
    int port() const { return port_; }
    // "http://127.0.0.1:<port>/" followed by `path`.
    std::string address(const std::string& path = "") const;

    // The faults of the next requests, from the next one on.
    void plan(std::vector<Fault> faults);
    // Requests for `target` (the request line's, "/updates/x.dll.zip") get
    // `content` instead of the buffer.
    void serve_file(const std::string& target, std::vector<uint8_t> content);
    // The faults of the next requests for `target`, which leave the plan
    // above to the other targets.
    void plan_for(const std::string& target, std::vector<Fault> faults);
    void set_stall_seconds(int seconds) { stall_seconds_ = seconds; }
    // Runs on the server's thread for every request, before its reply: a
    // test changes the world the client sees at that moment.
    void before_reply(std::function<void(const Request&)> hook) { before_reply_ = std::move(hook); }
    void set_not_found_reason(std::string reason);

    std::vector<Request> requests() const;

  private:
    void serve();
    // Serves one connection until it closes; false when it should close.
    bool serve_request(int s, std::string& pending, int connection);
    Fault next_fault(const std::string& target);
    void reply(int s, const Request& request, Fault fault, bool& keep);

    struct Plan {
        std::vector<Fault> faults;
        size_t served = 0;
    };

    std::vector<uint8_t> content_;
    std::function<void(const Request&)> before_reply_;   // set before the requests come
    std::map<std::string, std::vector<uint8_t>> files_;  // written before the requests come
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> stall_seconds_{30};
    mutable std::mutex mutex_;
    std::vector<Fault> plan_;
    size_t planned_ = 0;  // requests of the plan served
    std::map<std::string, Plan> target_plans_;
    std::string not_found_reason_ = "Not Found";
    std::vector<Request> requests_;
    std::thread thread_;
};

}  // namespace test_support
