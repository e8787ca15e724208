#include <windows.h>
#include <wininet.h>

#include "base/encoding.h"
#include "base/url.h"
#include "runtime/libraries/internet/http_get.h"

namespace internet {

namespace {

struct Handle {
    HINTERNET handle;
    ~Handle() {
        if (handle != nullptr)
            InternetCloseHandle(handle);
    }
};

}  // namespace

std::optional<std::vector<uint8_t>> http_get(std::string_view address) {
    const std::optional<std::string> utf8 = base::gbk_to_utf8(address);
    if (!utf8 || !base::is_http_address(*utf8))
        return std::nullopt;
    const std::optional<std::string> wire = base::wire_address(*utf8);
    if (!wire)
        return std::nullopt;
    Handle session{InternetOpenA("Mozilla/4.0 (compatible)", INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                 nullptr, 0)};
    if (session.handle == nullptr)
        return std::nullopt;
    Handle request{InternetOpenUrlA(
        session.handle, wire->c_str(), nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI, 0)};
    if (request.handle == nullptr)
        return std::nullopt;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request.handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr) ||
        status < 200 || status > 299)
        return std::nullopt;
    std::vector<uint8_t> body;
    uint8_t buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request.handle, buffer, sizeof buffer, &read))
            return std::nullopt;
        if (read == 0)
            break;
        if (body.size() + read > kMaxBody)
            return std::nullopt;
        body.insert(body.end(), buffer, buffer + read);
    }
    // A connection that closes early ends the reading like the body's end:
    // a body shorter than announced was cut short.
    DWORD announced = 0;
    size = sizeof announced;
    if (HttpQueryInfoA(request.handle, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                       &announced, &size, nullptr) &&
        announced != body.size())
        return std::nullopt;
    return body;
}

}  // namespace internet
