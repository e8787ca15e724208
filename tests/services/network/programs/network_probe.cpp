// HTTP through the runtime (see network_probe.desc): whole fetches through
// the internet library, and ranged requests as the updater's downloader
// makes them through the HTTP request object, all on one object. Each
// outcome becomes the text of 标签_报告, so the transcript lists them:
//
//   get <name> <byte count> <byte sum>        or  get <name> failed
//   <what> <readyState> <status> <statusText>|<Content-Range>|<body count> <body sum>
//   unknown class <handle> member <1 when the call failed>
#include "rt/args.h"
#include "rt/http_request.h"
#include "rt/internet.h"
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text.h"
#include "rt/text_line.h"

namespace {

using Line = rt::TextLine<' '>;

// Literals are appended through this call, not inline: an inlined copy loop
// may address a literal as "literal - 1", which imagelink refuses when the
// literal opens the const segment.
template <typename L>
__attribute__((noinline)) L& put(L& line, const char* text) {
    return line << text;
}

void report(const Line& line) {
    rt_set_property(RT_ID(52010001), RT_ID(16010001), RT_PROPERTY_TEXT, -1,
                    static_cast<int64_t>(reinterpret_cast<uintptr_t>(line.c_str())));
}

rt::Text edit_text(uint32_t unit) {
    return rt::Text::adopt(
        static_cast<intptr_t>(rt_get_property(RT_ID(52010001), unit, RT_PROPERTY_TEXT, -1)));
}

int64_t sum_of(rt::Bytes& bytes) {
    int64_t sum = 0;
    for (uint32_t i = 0; i < bytes.count(); ++i)
        sum += bytes.elements()[i];
    return sum;
}

void get(const char* base, const char* name, const char* label) {
    rt::TextLine<> address;
    address << base << name;
    rt::Bytes body = rt::http_get(address.c_str());
    Line line;
    put(line, "get ") << label;
    if (body.block() == nullptr)
        put(line, " failed");
    else
        line << body.count() << sum_of(body);
    report(line);
}

// One request as the downloader makes it: its headers in its order, then
// waits of a few seconds until it has ended (a bounded number of them).
void request(rt::HttpRequest& http, const char* base, const char* name, int64_t from,
             const char* what) {
    rt::TextLine<> address;
    address << base << name;
    Line line;
    line << what;
    if (!http.open("GET", address.c_str(), true)) {
        put(line, " open failed");
        report(line);
        return;
    }
    rt::TextLine<> range;
    if (from >= 0) {
        put(range, "bytes=") << from;
        put(range, "-") << from + 10239;
    }
    http.set_request_header("Referer", "");
    http.set_request_header("Accept", "*/*");
    http.set_request_header("User-Agent", "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)");
    if (from >= 0)
        http.set_request_header("Range", range.c_str());
    http.set_request_header("Content-Type", "application/octet-stream");
    http.set_request_header("Pragma", "no-cache");
    http.set_request_header("Cache-Control", "no-cache");
    if (!http.send()) {
        put(line, " send failed");
        report(line);
        return;
    }
    for (int32_t i = 0; i < 20 && http.ready_state() != 4; ++i)
        http.wait_for_response(3);
    rt::Text status_text = http.status_text();
    rt::Text content_range = http.get_response_header("Content-Range");
    const int32_t status = http.status();
    // Error pages are the server's own: only a file's bytes are reported.
    rt::Bytes body;
    if (status == 200 || status == 206)
        body = http.response_body();
    line << http.ready_state() << status;
    put(line, " ") << status_text.c_str();
    put(line, "|") << content_range.c_str();
    put(line, "|") << body.count() << sum_of(body);
    report(line);
}

}  // namespace

extern "C" {

RT_CALL void run_probe() {
    rt::Text base = edit_text(RT_ID(16010002));
    rt::Text dropping = edit_text(RT_ID(16010003));

    get(base.c_str(), "whole.bin", "whole.bin");
    get(base.c_str(), "文件.txt", "named");
    get(base.c_str(), "missing.bin", "missing.bin");
    get(dropping.c_str(), "whole.bin", "dropped");

    rt::HttpRequest http = rt::HttpRequest::create();
    if (!http.valid()) {
        Line line;
        put(line, "no request object");
        report(line);
        return;
    }
    request(http, base.c_str(), "whole.bin", 0, "range");
    request(http, base.c_str(), "whole.bin", 10240, "range");
    request(http, base.c_str(), "whole.bin", 20480, "range");
    request(http, base.c_str(), "whole.bin", 25000, "beyond");
    request(http, base.c_str(), "missing.bin", 0, "missing");
    request(http, base.c_str(), "whole.bin", -1, "whole");
    request(http, dropping.c_str(), "whole.bin", 0, "dropped");
    request(http, base.c_str(), "whole.bin", 0, "again");
    http.release();
    http.release();  // a second release of a released object does nothing

    // A class the system does not have, and a member the object lacks.
    Line unknown;
    put(unknown, "unknown class") << rt::Object::create("No.SuchClass").handle();
    rt::Object object = rt::Object::create("MSXML2.ServerXMLHTTP");
    put(unknown, " member") << (rt::failed(object.call("noSuchMember", rt::integer(1))) ? 1 : 0);
    report(unknown);
    Line line;
    put(line, "done");
    report(line);
}

// Releasing a handle the program never held ends it.
RT_CALL void release_foreign() {
    auto block = rt::arguments(rt::integer(77));
    rt_kernel_command(RT_KERNEL_OBJECT_RELEASE, block.get());
}
}
