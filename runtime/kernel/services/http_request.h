// The HTTP request object of systems without one of their own (ProgID
// "MSXML2.ServerXMLHTTP"), over libcurl. It has the members programs use of
// the Windows object, with the same states:
//
//   open(method, address, async)   readyState 1; drops a request under way
//   setRequestHeader(name, value)  after open, before send
//   send([body])                   async: starts the request and returns;
//                                  else returns when it has ended
//   readyState                     1 opened, 2 reply head in, 3 body coming,
//                                  4 ended (with a reply or a transport error)
//   waitForResponse([seconds])     true when the request has ended
//   status, statusText             of the reply (the reason phrase as sent)
//   responseBody                   bytes, once the request has ended
//   getResponseHeader(name)        a reply header ("" when absent)
//   abort()                        drops the request; readyState 0
//
// Reading a reply member before there is a reply, or after a transport
// error (no connection, connection dropped, time-out), fails, as it does on
// Windows; the request has still ended (readyState 4).
//
// waitForResponse returns after at most one second whatever it is asked,
// with false when the request has not ended yet: callers loop on it and
// check their own time limits and abort requests between the calls, which a
// longer wait would hold up.
//
// Each object keeps one libcurl transfer handle and its own connection
// cache, so successive requests to one server share one kept-alive
// connection. Only http and https are fetched, redirects included;
// addresses go on the wire in UTF-8, percent-escaped (base/url.h).
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/kernel/services/object.h"

namespace kernel {

class HttpRequest final : public Object {
  public:
    // Null when libcurl cannot start.
    static std::unique_ptr<HttpRequest> create();
    ~HttpRequest() override;
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    base::ErrorOr<ObjectValue, ObjectError> call(std::string_view name,
                                                 std::span<const ObjectValue> arguments) override;
    base::ErrorOr<ObjectValue, ObjectError> get(std::string_view name) override;

    // The members, typed. `address` is GBK.
    base::ErrorOr<void, ObjectError> open(std::string_view method, std::string_view address,
                                          bool async);
    base::ErrorOr<void, ObjectError> set_request_header(std::string_view name,
                                                        std::string_view value);
    base::ErrorOr<void, ObjectError> send(std::span<const uint8_t> body);
    int ready_state();
    base::ErrorOr<bool, ObjectError> wait_for_response(double seconds);
    base::ErrorOr<int, ObjectError> status() const;
    base::ErrorOr<std::string, ObjectError> status_text() const;
    base::ErrorOr<std::span<const uint8_t>, ObjectError> response_body() const;
    base::ErrorOr<std::string, ObjectError> response_header(std::string_view name) const;
    void abort();

  private:
    HttpRequest(CURLM* multi, CURL* easy);

    static size_t on_header(char* data, size_t size, size_t count, void* self);
    static size_t on_body(char* data, size_t size, size_t count, void* self);
    void header_line(std::string_view line);

    // Runs the transfer until it ends or `limit` has passed (zero: what
    // can be done without waiting).
    void pump(std::chrono::milliseconds limit);
    void collect_result();
    void detach();
    void clear_reply();
    bool has_reply() const { return state_ == 4 && !transport_failed_; }

    CURLM* multi_;
    CURL* easy_;
    curl_slist* request_headers_ = nullptr;
    std::vector<std::pair<std::string, std::string>> pending_headers_;

    int state_ = 0;  // readyState
    std::string method_;
    std::string address_;  // wire form
    bool async_ = false;
    bool sent_ = false;
    bool attached_ = false;  // the transfer handle is in the multi handle
    std::vector<uint8_t> request_body_;

    bool transport_failed_ = false;
    int status_ = 0;
    std::string reason_;
    std::vector<std::pair<std::string, std::string>> reply_headers_;
    std::vector<uint8_t> body_;
};

}  // namespace kernel
