// The HTTP request object of Linux and the internet library's whole fetch,
// called as the kernel calls them (members by name, GBK texts), against
// nginx and against servers that misbehave.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

#include "base/encoding.h"
#include "runtime/kernel/services/object.h"
#include "runtime/libraries/internet/http_get.h"
#include "tests/services/network/web_fixture.h"

namespace network_test {
namespace {

using kernel::ObjectError;
using kernel::ObjectValue;
using Outcome = base::ErrorOr<ObjectValue, ObjectError>;

ObjectValue text(const std::string& value) {
    return ObjectValue::of_text(value);
}

// GBK form of a UTF-8 literal of the test's source.
std::string gbk(const std::string& utf8) {
    return base::utf8_to_gbk(utf8).value();
}

class HttpRequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.running()) << server_.error();
        request_ = kernel::create_object("MSXML2.ServerXMLHTTP");
        ASSERT_NE(request_, nullptr);
    }

    Outcome call(const std::string& name, std::vector<ObjectValue> arguments = {}) {
        return request_->call(name, arguments);
    }
    Outcome get(const std::string& name) { return request_->get(name); }

    // What a caller waits for: readyState 4, in steps of waitForResponse.
    void finish() {
        for (int i = 0; i < 30 && get("readyState").value().integer != 4; ++i)
            ASSERT_FALSE(call("waitForResponse", {ObjectValue::of_integer(1000)}).is_error());
        ASSERT_EQ(get("readyState").value().integer, 4);
    }

    // A GET of `address` with the headers given, waited for.
    void fetch(const std::string& address, const std::map<std::string, std::string>& headers = {}) {
        ASSERT_FALSE(
            call("open", {text("GET"), text(address), ObjectValue::of_logical(true)}).is_error());
        for (const auto& [name, value] : headers)
            ASSERT_FALSE(call("setRequestHeader", {text(name), text(value)}).is_error());
        ASSERT_FALSE(call("send").is_error());
        finish();
    }

    std::string header(const std::string& name) {
        Outcome value = call("getResponseHeader", {text(name)});
        return value.is_error() ? "<failed>" : value.value().text;
    }

    Site site_;
    test_support::NginxServer server_{site_.folder()};
    std::unique_ptr<kernel::Object> request_;
};

TEST_F(HttpRequestTest, RepliesAsTheServerGivesThem) {
    const std::vector<uint8_t> whole = whole_content();
    struct Case {
        const char* what;
        std::string path;
        const char* range;  // nullptr: no Range header
        int status;
        const char* status_text;
        const char* content_range;
        size_t body_from, body_count;  // the slice of whole.bin the body must be
    };
    const Case cases[] = {
        {"whole file", "whole.bin", nullptr, 200, "OK", "", 0, kWholeSize},
        {"first range", "whole.bin", "bytes=0-10239", 206, "Partial Content", "bytes 0-10239/25000",
         0, 10240},
        {"last range, cut at the end", "whole.bin", "bytes=20480-30719", 206, "Partial Content",
         "bytes 20480-24999/25000", 20480, 4520},
        {"range beyond the end", "whole.bin", "bytes=25000-35239", 416,
         "Requested Range Not Satisfiable", "bytes */25000", 0, SIZE_MAX},
        {"missing file", "missing.bin", "bytes=0-10239", 404, "Not Found", "", 0, SIZE_MAX},
        {"Chinese name", gbk("文件.txt"), nullptr, 200, "OK", "", 0, SIZE_MAX},
    };
    // One object for all of them, as the downloader keeps one.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::map<std::string, std::string> headers;
        if (c.range != nullptr)
            headers["Range"] = c.range;
        fetch(server_.address(c.path), headers);
        EXPECT_EQ(get("status").value().integer, c.status);
        EXPECT_EQ(get("statusText").value().text, c.status_text);
        EXPECT_EQ(header("Content-Range"), c.content_range);
        EXPECT_EQ(header("content-range"), c.content_range) << "names match in any case";
        Outcome body = get("responseBody");
        ASSERT_FALSE(body.is_error());
        if (c.body_count != SIZE_MAX) {
            const auto from = whole.begin() + static_cast<long>(c.body_from);
            EXPECT_EQ(body.value().bytes,
                      std::vector<uint8_t>(from, from + static_cast<long>(c.body_count)));
        }
    }
    Outcome named = get("responseBody");
    EXPECT_EQ(std::string(named.value().bytes.begin(), named.value().bytes.end()), "hello");
}

// The downloader's requests (all its headers, 10240-byte ranges, one
// object) travel on one kept-alive connection.
TEST_F(HttpRequestTest, RangedRequestsShareOneConnection) {
    const std::map<std::string, std::string> downloader_headers = {
        {"Referer", ""},
        {"Accept", "*/*"},
        {"User-Agent", "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)"},
        {"Content-Type", "application/octet-stream"},
        {"Pragma", "no-cache"},
        {"Cache-Control", "no-cache"},
    };
    std::vector<uint8_t> assembled;
    for (int round = 0; round < 10; ++round) {
        assembled.clear();
        for (size_t from = 0; from < kWholeSize; from += 10240) {
            auto headers = downloader_headers;
            headers["Range"] = "bytes=" + std::to_string(from) + "-" + std::to_string(from + 10239);
            fetch(server_.address("whole.bin"), headers);
            ASSERT_EQ(get("status").value().integer, 206);
            Outcome body = get("responseBody");
            ASSERT_FALSE(body.is_error());
            assembled.insert(assembled.end(), body.value().bytes.begin(), body.value().bytes.end());
        }
    }
    EXPECT_EQ(assembled, whole_content());
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 30u);
    for (const auto& r : requests)
        EXPECT_EQ(r.connection, requests.front().connection) << r.uri << " " << r.range;
}

// No reply at all, or a body cut short: the request ends (readyState 4)
// and every reply member fails, as on Windows.
TEST_F(HttpRequestTest, TransportErrorsEndTheRequestWithoutAReply) {
    BadServer closing(BadServer::Manner::Close);
    BadServer cut_short(BadServer::Manner::CutShort);
    const std::pair<const char*, std::string> cases[] = {
        {"connection closed", closing.address("whole.bin")},
        {"body cut short", cut_short.address("whole.bin")},
        {"nobody listening",
         "http://127.0.0.1:" + std::to_string(test_support::free_loopback_port()) + "/whole.bin"},
    };
    for (const auto& [what, address] : cases) {
        SCOPED_TRACE(what);
        fetch(address, {{"Range", "bytes=0-10239"}});
        EXPECT_TRUE(call("waitForResponse", {ObjectValue::of_integer(1)}).value().integer);
        for (const char* member : {"status", "statusText", "responseBody"})
            EXPECT_EQ(get(member).error(), ObjectError::Failed) << member;
        EXPECT_EQ(header("Content-Range"), "<failed>");
    }
    // The same object goes on working.
    fetch(server_.address("whole.bin"), {{"Range", "bytes=0-9"}});
    EXPECT_EQ(get("status").value().integer, 206);
}

// A request under way: waitForResponse comes back (false) though asked to
// wait 1000 seconds, and abort drops the request; the object stays usable.
TEST_F(HttpRequestTest, WaitsInShortStepsAndAborts) {
    BadServer silent(BadServer::Manner::Silent);
    ASSERT_FALSE(
        call("open", {text("GET"), text(silent.address("x")), ObjectValue::of_logical(true)})
            .is_error());
    ASSERT_FALSE(call("send").is_error());
    EXPECT_EQ(call("waitForResponse", {ObjectValue::of_integer(1000)}).value().integer, 0);
    EXPECT_EQ(get("readyState").value().integer, 1);
    EXPECT_EQ(get("status").error(), ObjectError::Failed);
    ASSERT_FALSE(call("abort").is_error());
    EXPECT_EQ(get("readyState").value().integer, 0);
    fetch(server_.address("whole.bin"));
    EXPECT_EQ(get("status").value().integer, 200);
    EXPECT_EQ(get("responseBody").value().bytes.size(), kWholeSize);
}

// A synchronous request has ended when send returns.
TEST_F(HttpRequestTest, SynchronousSendEndsTheRequest) {
    ASSERT_FALSE(call("open", {text("GET"), text(server_.address("whole.bin")),
                               ObjectValue::of_logical(false)})
                     .is_error());
    ASSERT_FALSE(call("send").is_error());
    EXPECT_EQ(get("readyState").value().integer, 4);
    EXPECT_EQ(get("status").value().integer, 200);
}

TEST_F(HttpRequestTest, CallsItCannotTake) {
    const std::string address = server_.address("whole.bin");
    auto open = [&](const std::string& url) {
        return call("open", {text("GET"), text(url), ObjectValue::of_logical(true)});
    };
    struct Case {
        const char* what;
        std::function<Outcome()> steps;  // the last step's outcome counts
        ObjectError error;
    };
    const Case cases[] = {
        {"header before open",
         [&] {
             return call("setRequestHeader", {text("A"), text("b")});
         },
         ObjectError::Failed},
        {"send before open", [&] { return call("send"); }, ObjectError::Failed},
        {"wait before send", [&] { return call("waitForResponse", {ObjectValue::of_integer(1)}); },
         ObjectError::Failed},
        {"status before send",
         [&] {
             (void)open(address);
             return get("status");
         },
         ObjectError::Failed},
        {"line break in a header value",
         [&] {
             (void)open(address);
             return call("setRequestHeader", {text("Range"), text("bytes=0-1\r\nX-Evil: 1")});
         },
         ObjectError::Failed},
        {"colon in a header name",
         [&] {
             (void)open(address);
             return call("setRequestHeader", {text("X-A: b"), text("c")});
         },
         ObjectError::Failed},
        {"header after send",
         [&] {
             (void)open(address);
             (void)call("send");
             return call("setRequestHeader", {text("A"), text("b")});
         },
         ObjectError::Failed},
        {"send twice",
         [&] {
             (void)open(address);
             (void)call("send");
             return call("send");
         },
         ObjectError::Failed},
        {"file address", [&] { return open("file:///etc/passwd"); }, ObjectError::Failed},
        {"ftp address", [&] { return open("ftp://127.0.0.1/x"); }, ObjectError::Failed},
        {"line break in an address", [&] { return open(address + "\r\nX-Evil: 1"); },
         ObjectError::Failed},
        {"address that is not GBK", [&] { return open(server_.address("\x81")); },
         ObjectError::Failed},
        {"method that is not a token",
         [&] {
             return call("open", {text("GET /x"), text(address)});
         },
         ObjectError::Failed},
        {"no such method", [&] { return call("overrideMimeType", {text("x")}); },
         ObjectError::UnknownMember},
        {"no such property", [&] { return get("responseXML"); }, ObjectError::UnknownMember},
        {"open with one argument", [&] { return call("open", {text("GET")}); },
         ObjectError::WrongArguments},
        {"address as a number",
         [&] {
             return call("open", {text("GET"), ObjectValue::of_integer(1)});
         },
         ObjectError::WrongArguments},
        {"a user name",
         [&] {
             return call("open",
                         {text("GET"), text(address), ObjectValue::of_logical(true), text("user")});
         },
         ObjectError::WrongArguments},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        request_ = kernel::create_object("MSXML2.ServerXMLHTTP");
        Outcome outcome = c.steps();
        ASSERT_TRUE(outcome.is_error());
        EXPECT_EQ(outcome.error(), c.error);
    }
}

TEST(ObjectClasses, OnlyTheRequestObjectOnLinux) {
    EXPECT_NE(kernel::create_object("msxml2.serverxmlhttp"), nullptr);
    EXPECT_EQ(kernel::create_object("Scripting.FileSystemObject"), nullptr);
    EXPECT_EQ(kernel::create_object(""), nullptr);
}

// The internet library: the body of a 2xx reply, nothing for anything else.
TEST(InternetGet, BodyOnlyForASuccessfulReply) {
    Site site;
    test_support::NginxServer server(site.folder());
    ASSERT_TRUE(server.running()) << server.error();
    BadServer closing(BadServer::Manner::Close);
    BadServer cut_short(BadServer::Manner::CutShort);
    const std::vector<uint8_t> whole = whole_content();
    const std::string hello = "hello";
    struct Case {
        const char* what;
        std::string address;
        std::optional<std::vector<uint8_t>> body;
    };
    const Case cases[] = {
        {"whole file", server.address("whole.bin"), whole},
        {"empty file: empty, not failed", server.address("empty.txt"), std::vector<uint8_t>{}},
        {"Chinese name", server.address(gbk("文件.txt")),
         std::vector<uint8_t>(hello.begin(), hello.end())},
        {"404", server.address("missing.bin"), std::nullopt},
        {"connection closed", closing.address("x"), std::nullopt},
        {"body cut short", cut_short.address("x"), std::nullopt},
        {"nobody listening",
         "http://127.0.0.1:" + std::to_string(test_support::free_loopback_port()) + "/",
         std::nullopt},
        {"not http", "file:///etc/passwd", std::nullopt},
        {"empty address", "", std::nullopt},
        {"line break", server.address("whole.bin\r\nX-Evil: 1"), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(internet::http_get(c.address), c.body);
    }
}

}  // namespace
}  // namespace network_test
