// The system's HTTP request object ("MSXML2.ServerXMLHTTP"), its members
// named as the object names them:
//
//   rt::HttpRequest request = rt::HttpRequest::create();
//   request.open("GET", address, true);
//   request.set_request_header("Range", "bytes=0-10239");
//   request.send();
//   while (request.ready_state() != 4)
//       request.wait_for_response(1000);
//   if (request.status() == 206) { rt::Bytes body = request.response_body(); ... }
//
// readyState: 0 not opened, 1 opened, 2 reply head in, 3 body coming, 4
// ended. A request that ended without a reply (no connection, connection
// dropped) has no status: status() gives -1, status_text() and
// get_response_header() empty texts, response_body() an empty array.
#pragma once

#include <stdint.h>

#include "rt/array.h"
#include "rt/object.h"
#include "rt/text.h"

namespace rt {

class HttpRequest {
  public:
    HttpRequest() = default;

    // One that holds no object (valid() false) when the system has none.
    static HttpRequest create() { return HttpRequest(Object::create("MSXML2.ServerXMLHTTP")); }

    bool valid() const { return object_.valid(); }
    void release() { object_.release(); }

    bool open(const char* method, const char* address, bool async) {
        return !failed(
            object_.call("open", rt::text(method), rt::text(address), rt::logical(async)));
    }
    bool set_request_header(const char* name, const char* value) {
        return !failed(object_.call("setRequestHeader", rt::text(name), rt::text(value)));
    }
    bool send() { return !failed(object_.call("send")); }
    // -1 when it cannot be read.
    int32_t ready_state() { return integer(object_.get("readyState")); }
    // Waits at most `seconds` (the runtime may come back sooner); true when
    // the request has ended.
    bool wait_for_response(int32_t seconds) {
        const int64_t done = object_.call("waitForResponse", rt::integer(seconds));
        return !failed(done) && done != 0;
    }
    // The reply's status; -1 without a reply.
    int32_t status() { return integer(object_.get("status")); }
    Text status_text() { return text(object_.get("statusText")); }
    Bytes response_body() {
        const int64_t body = object_.get("responseBody");
        return Bytes::adopt(failed(body) ? 0 : static_cast<intptr_t>(body));
    }
    // Empty when the reply has no such header.
    Text get_response_header(const char* name) {
        return text(object_.call("getResponseHeader", rt::text(name)));
    }
    bool abort() { return !failed(object_.call("abort")); }

  private:
    explicit HttpRequest(Object object) : object_(static_cast<Object&&>(object)) {}
    static int32_t integer(int64_t value) {
        return failed(value) ? -1 : static_cast<int32_t>(value);
    }
    static Text text(int64_t value) {
        return Text::adopt(failed(value) ? 0 : static_cast<intptr_t>(value));
    }

    Object object_;
};

}  // namespace rt
