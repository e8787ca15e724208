#include <curl/curl.h>

#include "base/encoding.h"
#include "base/url.h"
#include "runtime/libraries/internet/http_get.h"

namespace internet {

namespace {

size_t on_body(char* data, size_t size, size_t count, void* body_pointer) {
    auto* body = static_cast<std::vector<uint8_t>*>(body_pointer);
    const size_t length = size * count;
    if (body->size() + length > kMaxBody)
        return 0;  // ends the transfer with an error
    body->insert(body->end(), data, data + length);
    return length;
}

}  // namespace

std::optional<std::vector<uint8_t>> http_get(std::string_view address) {
    const std::optional<std::string> utf8 = base::gbk_to_utf8(address);
    if (!utf8 || !base::is_http_address(*utf8))
        return std::nullopt;
    const std::optional<std::string> wire = base::wire_address(*utf8);
    if (!wire)
        return std::nullopt;
    static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!started)
        return std::nullopt;
    CURL* easy = curl_easy_init();
    if (easy == nullptr)
        return std::nullopt;
    std::vector<uint8_t> body;
    curl_easy_setopt(easy, CURLOPT_URL, wire->c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    // The Windows library's limits: connecting, and a reply that stalls.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &on_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl_easy_perform(easy);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(easy);
    if (result != CURLE_OK || status < 200 || status > 299)
        return std::nullopt;
    return body;
}

}  // namespace internet
