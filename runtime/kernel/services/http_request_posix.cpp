#include "runtime/kernel/services/http_request.h"

#include <algorithm>
#include <cmath>

#include "base/encoding.h"
#include "base/url.h"

namespace kernel {

namespace {

using base::ErrorOr;
using base::fail;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A reply body beyond this is refused (a transport error): it could not
// become one heap block of the program.
constexpr size_t kMaxBody = size_t{1} << 30;
// The Windows object's own limits: connecting, and a reply that stalls.
constexpr long kConnectSeconds = 60;
constexpr long kStallSeconds = 30;
// The longest single wait of waitForResponse.
constexpr milliseconds kWaitStep{1000};

bool is_token(std::string_view text) {
    if (text.empty())
        return false;
    for (char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') ||
                        std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
        if (!ok)
            return false;
    }
    return true;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return out;
}

// Arguments of the members.
ErrorOr<std::string_view, ObjectError> text_argument(std::span<const ObjectValue> arguments,
                                                     size_t i) {
    if (i >= arguments.size() || arguments[i].kind != ObjectValue::Kind::Text)
        return fail(ObjectError::WrongArguments);
    return std::string_view(arguments[i].text);
}

ErrorOr<bool, ObjectError> flag_argument(const ObjectValue& value) {
    switch (value.kind) {
        case ObjectValue::Kind::Logical:
        case ObjectValue::Kind::Integer:
            return value.integer != 0;
        case ObjectValue::Kind::None:
            return false;
        default:
            return fail(ObjectError::WrongArguments);
    }
}

ErrorOr<double, ObjectError> number_argument(const ObjectValue& value) {
    switch (value.kind) {
        case ObjectValue::Kind::Integer:
            return static_cast<double>(value.integer);
        case ObjectValue::Kind::Number:
            return value.number;
        default:
            return fail(ObjectError::WrongArguments);
    }
}

}  // namespace

std::unique_ptr<HttpRequest> HttpRequest::create() {
    static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!started)
        return nullptr;
    CURLM* multi = curl_multi_init();
    CURL* easy = curl_easy_init();
    if (multi == nullptr || easy == nullptr) {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        return nullptr;
    }
    return std::unique_ptr<HttpRequest>(new HttpRequest(multi, easy));
}

HttpRequest::HttpRequest(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &HttpRequest::on_header);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &HttpRequest::on_body);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L);
    // HTTP/1.1 replies carry the reason phrase that statusText gives.
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
}

HttpRequest::~HttpRequest() {
    detach();
    curl_slist_free_all(request_headers_);
    curl_easy_cleanup(easy_);
    curl_multi_cleanup(multi_);
}

// ---- the members by name ----

ErrorOr<ObjectValue, ObjectError> HttpRequest::call(std::string_view name,
                                                    std::span<const ObjectValue> arguments) {
    if (same_name(name, "open")) {
        if (arguments.size() < 2 || arguments.size() > 5)
            return fail(ObjectError::WrongArguments);
        const std::string_view method = TRY(text_argument(arguments, 0));
        const std::string_view address = TRY(text_argument(arguments, 1));
        const bool async = arguments.size() > 2 ? TRY(flag_argument(arguments[2])) : false;
        // A user name and password are not supported: none may be given.
        for (size_t i = 3; i < arguments.size(); ++i) {
            const ObjectValue& credential = arguments[i];
            if (credential.kind != ObjectValue::Kind::None &&
                !(credential.kind == ObjectValue::Kind::Text && credential.text.empty()))
                return fail(ObjectError::WrongArguments);
        }
        TRY(open(method, address, async));
        return ObjectValue::none();
    }
    if (same_name(name, "setRequestHeader")) {
        if (arguments.size() != 2)
            return fail(ObjectError::WrongArguments);
        TRY(set_request_header(TRY(text_argument(arguments, 0)), TRY(text_argument(arguments, 1))));
        return ObjectValue::none();
    }
    if (same_name(name, "send")) {
        if (arguments.size() > 1)
            return fail(ObjectError::WrongArguments);
        std::span<const uint8_t> body;
        if (arguments.size() == 1) {
            const ObjectValue& value = arguments[0];
            if (value.kind == ObjectValue::Kind::Text)
                body = {reinterpret_cast<const uint8_t*>(value.text.data()), value.text.size()};
            else if (value.kind == ObjectValue::Kind::Bytes)
                body = value.bytes;
            else if (value.kind != ObjectValue::Kind::None)
                return fail(ObjectError::WrongArguments);
        }
        TRY(send(body));
        return ObjectValue::none();
    }
    if (same_name(name, "waitForResponse")) {
        if (arguments.size() > 1)
            return fail(ObjectError::WrongArguments);
        const double seconds = arguments.empty() ? -1 : TRY(number_argument(arguments[0]));
        return ObjectValue::of_logical(TRY(wait_for_response(seconds)));
    }
    if (same_name(name, "getResponseHeader")) {
        if (arguments.size() != 1)
            return fail(ObjectError::WrongArguments);
        return ObjectValue::of_text(TRY(response_header(TRY(text_argument(arguments, 0)))));
    }
    if (same_name(name, "abort")) {
        if (!arguments.empty())
            return fail(ObjectError::WrongArguments);
        abort();
        return ObjectValue::none();
    }
    // A property called as a method, as Windows' IDispatch allows.
    if (arguments.empty())
        return get(name);
    return fail(ObjectError::UnknownMember);
}

ErrorOr<ObjectValue, ObjectError> HttpRequest::get(std::string_view name) {
    if (same_name(name, "readyState"))
        return ObjectValue::of_integer(ready_state());
    if (same_name(name, "status"))
        return ObjectValue::of_integer(TRY(status()));
    if (same_name(name, "statusText"))
        return ObjectValue::of_text(TRY(status_text()));
    if (same_name(name, "responseBody")) {
        const std::span<const uint8_t> body = TRY(response_body());
        return ObjectValue::of_bytes(std::vector<uint8_t>(body.begin(), body.end()));
    }
    return fail(ObjectError::UnknownMember);
}

// ---- the members ----

ErrorOr<void, ObjectError> HttpRequest::open(std::string_view method, std::string_view address,
                                             bool async) {
    abort();
    if (!is_token(method))
        return fail(ObjectError::Failed);
    const std::optional<std::string> utf8 = base::gbk_to_utf8(address);
    if (!utf8 || !base::is_http_address(*utf8))
        return fail(ObjectError::Failed);
    std::optional<std::string> wire = base::wire_address(*utf8);
    if (!wire)
        return fail(ObjectError::Failed);
    method_ = upper(method);
    address_ = std::move(*wire);
    async_ = async;
    state_ = 1;
    return {};
}

ErrorOr<void, ObjectError> HttpRequest::set_request_header(std::string_view name,
                                                           std::string_view value) {
    if (state_ != 1 || sent_)
        return fail(ObjectError::Failed);
    // A line break in either would start a header of its own.
    if (!is_token(name) || value.find_first_of(std::string_view("\r\n\0", 3)) != value.npos)
        return fail(ObjectError::Failed);
    for (auto& [known, known_value] : pending_headers_) {
        if (same_name(known, name)) {
            known_value += ", ";
            known_value += value;
            return {};
        }
    }
    pending_headers_.emplace_back(std::string(name), std::string(value));
    return {};
}

ErrorOr<void, ObjectError> HttpRequest::send(std::span<const uint8_t> body) {
    if (state_ != 1 || sent_)
        return fail(ObjectError::Failed);
    curl_slist_free_all(request_headers_);
    request_headers_ = nullptr;
    std::string line;
    auto add = [&](const std::string& text) {
        curl_slist* grown = curl_slist_append(request_headers_, text.c_str());
        if (grown == nullptr)
            return false;
        request_headers_ = grown;
        return true;
    };
    for (const auto& [name, value] : pending_headers_) {
        // "Name;" is libcurl's way to send a header with an empty value.
        line = value.empty() ? name + ";" : name + ": " + value;
        if (!add(line))
            return fail(ObjectError::Failed);
    }
    curl_easy_setopt(easy_, CURLOPT_URL, address_.c_str());
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
    curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    if (method_ == "HEAD") {
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else if (method_ != "GET") {
        request_body_.assign(body.begin(), body.end());
        if (!add("Expect:"))  // no waiting for "100 Continue"
            return fail(ObjectError::Failed);
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request_body_.size()));
        curl_easy_setopt(
            easy_, CURLOPT_POSTFIELDS,
            request_body_.empty() ? "" : reinterpret_cast<char*>(request_body_.data()));
        if (method_ != "POST")
            curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method_.c_str());
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, request_headers_);
    clear_reply();
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK)
        return fail(ObjectError::Failed);
    attached_ = true;
    sent_ = true;
    if (async_)
        pump(milliseconds::zero());
    else
        while (attached_)
            pump(kWaitStep);
    return {};
}

int HttpRequest::ready_state() {
    pump(milliseconds::zero());
    return state_;
}

ErrorOr<bool, ObjectError> HttpRequest::wait_for_response(double seconds) {
    if (!sent_)
        return fail(ObjectError::Failed);
    milliseconds limit = kWaitStep;
    if (seconds >= 0 && seconds * 1000 < static_cast<double>(kWaitStep.count()))
        limit = milliseconds(static_cast<int64_t>(std::ceil(seconds * 1000)));
    pump(limit);
    return state_ == 4;
}

ErrorOr<int, ObjectError> HttpRequest::status() const {
    if (state_ < 2 || transport_failed_)
        return fail(ObjectError::Failed);
    return status_;
}

ErrorOr<std::string, ObjectError> HttpRequest::status_text() const {
    if (state_ < 2 || transport_failed_)
        return fail(ObjectError::Failed);
    return reason_;
}

ErrorOr<std::span<const uint8_t>, ObjectError> HttpRequest::response_body() const {
    if (!has_reply())
        return fail(ObjectError::Failed);
    return std::span<const uint8_t>(body_);
}

ErrorOr<std::string, ObjectError> HttpRequest::response_header(std::string_view name) const {
    if (state_ < 2 || transport_failed_)
        return fail(ObjectError::Failed);
    std::string value;
    for (const auto& [known, known_value] : reply_headers_) {
        if (!same_name(known, name))
            continue;
        if (!value.empty())
            value += ", ";
        value += known_value;
    }
    return value;
}

void HttpRequest::abort() {
    detach();
    clear_reply();
    pending_headers_.clear();
    sent_ = false;
    state_ = 0;
}

// ---- the transfer ----

size_t HttpRequest::on_header(char* data, size_t size, size_t count, void* self) {
    static_cast<HttpRequest*>(self)->header_line(std::string_view(data, size * count));
    return size * count;
}

void HttpRequest::header_line(std::string_view line) {
    if (line.starts_with("HTTP/")) {
        // A new reply (after a redirect or an interim reply): start over.
        reply_headers_.clear();
        body_.clear();
        const size_t space = line.find(' ');
        status_ = 0;
        reason_.clear();
        if (space != line.npos) {
            std::string_view rest = line.substr(space + 1);
            size_t digits = 0;
            while (digits < rest.size() && digits < 3 && rest[digits] >= '0' && rest[digits] <= '9')
                status_ = status_ * 10 + (rest[digits++] - '0');
            reason_ = trim(rest.substr(digits));
        }
        return;
    }
    if (trim(line).empty()) {
        state_ = std::max(state_, 2);
        return;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !reply_headers_.empty()) {
        reply_headers_.back().second += ' ';
        reply_headers_.back().second += trim(line);
        return;
    }
    const size_t colon = line.find(':');
    if (colon == line.npos)
        return;
    reply_headers_.emplace_back(std::string(trim(line.substr(0, colon))),
                                std::string(trim(line.substr(colon + 1))));
}

size_t HttpRequest::on_body(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<HttpRequest*>(self);
    const size_t length = size * count;
    if (request->body_.size() + length > kMaxBody)
        return 0;  // ends the transfer with an error
    request->body_.insert(request->body_.end(), data, data + length);
    request->state_ = 3;
    return length;
}

void HttpRequest::pump(milliseconds limit) {
    if (!attached_)
        return;
    const auto deadline = steady_clock::now() + limit;
    for (;;) {
        int running = 0;
        curl_multi_perform(multi_, &running);
        collect_result();
        if (!attached_)
            return;
        const auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0)
            return;
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(left), nullptr);
    }
}

void HttpRequest::collect_result() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != easy_)
            continue;
        transport_failed_ = message->data.result != CURLE_OK;
        detach();
        state_ = 4;
    }
}

void HttpRequest::detach() {
    if (!attached_)
        return;
    // An unfinished transfer's connection is closed; a finished one's stays
    // in this object's cache for the next request.
    curl_multi_remove_handle(multi_, easy_);
    attached_ = false;
}

void HttpRequest::clear_reply() {
    transport_failed_ = false;
    status_ = 0;
    reason_.clear();
    reply_headers_.clear();
    body_.clear();
}

}  // namespace kernel
