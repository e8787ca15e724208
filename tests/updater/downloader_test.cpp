// The updater's downloader in a program image (programs/download_probe.*)
// run by the kernel with a script, against nginx for the plain cases and
// against the tests' fault-injecting server for what nginx does not do.
// The reports the program hears become transcript lines; the local file
// and the requests the servers got are checked after each run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/fault_http_server.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::FaultHttpServer;
using Fault = FaultHttpServer::Fault;

// Assembled by the build; its runtime folder is shared by the test
// processes (the loader keeps one that already holds the package).
const fs::path kProgram = DOWNLOAD_PROBE;
const fs::path kRuntimeTmp = RUNTIME_TMP;

const char kDone[] = "下载完毕";
const char kNoRanges[] = "服务器不支持断点续传！";
const char kLengthUnknown[] = "文件长度未知！";
const char kBadRange[] = "服务器返回的数据范围有误！";
const char kLengthChanged[] = "服务器上的文件长度已改变！";
const char kLengthMismatch[] = "服务器上的文件长度与本地文件不符！";
const char kConnectionFailed[] = "网络连接失败，建议重试。";
const char kTimeOut[] = "数据下载超时，建议重试。";
const char kTooLarge[] = "文件超过2GB，无法下载！";

std::vector<uint8_t> content(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = 2024;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

std::vector<uint8_t> prefix(const std::vector<uint8_t>& bytes, size_t count) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(count));
}

// "bytes=a-b" for the chunks from `from`.
std::string range(size_t from, size_t chunk = 10240) {
    return "bytes=" + std::to_string(from) + "-" + std::to_string(from + chunk - 1);
}

// One click of 按钮_下载.
struct Transfer {
    std::string address;
    std::string chunk;   // kilobytes; empty for the default
    std::string manner;  // see download_probe.cpp
};

class Downloader : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { fs::create_directories(kRuntimeTmp); }

    fs::path local() const { return scratch_ / "local.bin"; }

    // Runs the transfers in one program run; the reports, without their
    // numbers.
    std::vector<std::string> run(const std::vector<Transfer>& transfers) {
        std::ofstream script(scratch_ / "script");
        for (const Transfer& t : transfers)
            script << "type 编辑框_地址 \"" << t.address << "\"\n"
                   << "type 编辑框_路径 \"" << local().string() << "\"\n"
                   << "type 编辑框_块 \"" << t.chunk << "\"\n"
                   << "type 编辑框_方式 \"" << t.manner << "\"\n"
                   << "click 按钮_下载\n";
        script.close();
        const fs::path transcript = scratch_ / "transcript";
        fs::remove(transcript);
        auto result = test_support::run(
            {kProgram.string()},
            {"TMPDIR=" + kRuntimeTmp.string(), "WJRT_SCRIPT=" + (scratch_ / "script").string(),
             "WJRT_TRANSCRIPT=" + transcript.string()},
            120);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        const std::string text = test_support::read_text(transcript);
        EXPECT_EQ(text.find("automation-failure"), std::string::npos) << text;
        std::vector<std::string> out;
        std::istringstream lines(text);
        std::string line;
        const std::string start = "unit-text 标签_报告 \"";
        while (std::getline(lines, line)) {
            if (!line.starts_with(start) || !line.ends_with("\""))
                continue;
            const std::string report = line.substr(start.size(), line.size() - start.size() - 1);
            out.push_back(report.substr(report.find(' ') + 1));
        }
        return out;
    }

    std::vector<uint8_t> local_bytes() const { return test_support::read_bytes(local()); }

    test_support::ScratchDir scratch_;
};

// ---- the plain cases, against nginx ----

struct PlainCase {
    const char* name;
    size_t size;                      // of the resource; 0: no such file
    size_t local_prefix;              // bytes of the resource already in the local file
    size_t local_junk;                // or bytes of something else
    std::vector<std::string> ranges;  // the requests, in order
    std::vector<int> percents;        // the progress reports
    int status;                       // in the finish report
    int percent;                      // in the finish report
    std::string message;
};

void PrintTo(const PlainCase& c, std::ostream* out) {
    *out << c.name;
}

class PlainDownload : public Downloader, public ::testing::WithParamInterface<PlainCase> {};

TEST_P(PlainDownload, AgainstNginx) {
    const PlainCase& c = GetParam();
    test_support::ScratchDir site;
    const std::vector<uint8_t> whole = content(c.size);
    if (c.size != 0)
        test_support::write_bytes(site / "file.zip", whole);
    if (c.local_prefix != 0)
        test_support::write_bytes(local(), prefix(whole, c.local_prefix));
    if (c.local_junk != 0)
        test_support::write_bytes(local(), std::vector<uint8_t>(c.local_junk, 0x55));
    test_support::NginxServer server(site.path());
    ASSERT_TRUE(server.running()) << server.error();
    const std::string address = server.address("file.zip");

    std::vector<std::string> expected = {"init 1"};
    const std::string total = std::to_string(c.size);
    for (int percent : c.percents)
        expected.push_back("progress " + local().string() + " " + total + " " +
                           std::to_string(percent));
    expected.push_back("finish " + address + " " + std::to_string(c.status) + " " +
                       std::to_string(c.percent) + " " + c.message);
    expected.push_back(std::string("result ") + (c.message == kDone ? "1 " : "0 ") + c.message);
    EXPECT_EQ(run({{address, "", ""}}), expected);

    std::vector<std::string> ranges;
    for (const auto& r : server.requests())
        ranges.push_back(r.range);
    EXPECT_EQ(ranges, c.ranges);
    // Complete, or (404) created empty.
    EXPECT_EQ(local_bytes(), c.size != 0 ? whole : std::vector<uint8_t>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlainDownload,
    ::testing::Values(
        PlainCase{"OneRequest", 5000, 0, 0, {range(0)}, {100}, 206, 100, kDone},
        PlainCase{
            "ExactlyTwoChunks", 20480, 0, 0, {range(0), range(10240)}, {50, 100}, 206, 100, kDone},
        PlainCase{"ResumesFromTheLocalLength",
                  25000,
                  10240,
                  0,
                  {range(10240), range(20480)},
                  {81, 100},
                  206,
                  100,
                  kDone},
        PlainCase{"MissingFileGivesTheStatusText", 0, 0, 0, {range(0)}, {}, 404, 0, "Not Found"},
        // The local file holds the whole resource: nothing is written.
        PlainCase{"CompleteLocalFile", 5000, 5000, 0, {range(5000)}, {}, 416, 100, kDone},
        // Longer than the resource: not a prefix of it, so fetched again.
        PlainCase{"LongerStaleFileStartsOver",
                  5000,
                  0,
                  6000,
                  {range(6000), range(0)},
                  {100},
                  206,
                  100,
                  kDone}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- faults, against the tests' own server ----

struct FaultCase {
    const char* name;
    std::vector<Fault> plan;          // of the first transfer's requests
    size_t local_prefix;              // bytes of the resource in the local file before it
    std::string chunk;                // kilobytes, empty for the default
    std::string message;              // its outcome
    std::vector<std::string> ranges;  // its requests
    size_t kept;                      // the local file afterwards: this prefix
};

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

class FaultyDownload : public Downloader, public ::testing::WithParamInterface<FaultCase> {};

// The fault ends the first transfer with its message and a correct prefix
// in the local file; a second transfer, served correctly, completes it byte
// for byte from there.
TEST_P(FaultyDownload, LeavesAPrefixThatALaterTransferCompletes) {
    const FaultCase& c = GetParam();
    const std::vector<uint8_t> whole = content(25000);
    FaultHttpServer server(whole);
    ASSERT_TRUE(server.running());
    server.plan(c.plan);
    // Past the time limit of a 1 KB chunk (10.24 s).
    server.set_stall_seconds(25);
    if (c.local_prefix != 0)
        test_support::write_bytes(local(), prefix(whole, c.local_prefix));
    const std::string address = server.address("file.zip");

    const auto reports = run({{address, c.chunk, ""}, {address, c.chunk, ""}});
    std::vector<std::string> results;
    for (const std::string& r : reports)
        if (r.starts_with("result "))
            results.push_back(r);
    EXPECT_EQ(results, (std::vector<std::string>{"result 0 " + c.message,
                                                 std::string("result 1 ") + kDone}));
    EXPECT_EQ(local_bytes(), whole);

    const auto requests = server.requests();
    ASSERT_GE(requests.size(), c.ranges.size() + 1);
    std::vector<std::string> first;
    for (size_t i = 0; i < c.ranges.size(); ++i)
        first.push_back(requests[i].range);
    EXPECT_EQ(first, c.ranges);
    // The second transfer resumed from what the first one kept.
    const size_t chunk = c.chunk.empty() ? 10240 : std::stoul(c.chunk) * 1024;
    EXPECT_EQ(requests[c.ranges.size()].range, range(c.kept, chunk));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FaultyDownload,
    ::testing::Values(
        // Nothing of a whole reply is written, and a partial file stays.
        FaultCase{
            "IgnoredRange", {Fault::IgnoreRange}, 10240, "", kNoRanges, {range(10240)}, 10240},
        FaultCase{
            "IgnoredRangeOnAFreshFile", {Fault::IgnoreRange}, 0, "", kNoRanges, {range(0)}, 0},
        FaultCase{"WrongStart",
                  {Fault::None, Fault::WrongStart},
                  0,
                  "",
                  kBadRange,
                  {range(0), range(10240)},
                  10240},
        FaultCase{"NoTotal", {Fault::NoTotal}, 0, "", kLengthUnknown, {range(0)}, 0},
        FaultCase{"TotalNotANumber", {Fault::TotalNotNumber}, 0, "", kLengthUnknown, {range(0)}, 0},
        FaultCase{"NoContentRange", {Fault::NoContentRange}, 0, "", kLengthUnknown, {range(0)}, 0},
        FaultCase{"TotalChanges",
                  {Fault::None, Fault::TotalChanged},
                  0,
                  "",
                  kLengthChanged,
                  {range(0), range(10240)},
                  10240},
        // Beyond the 32-bit counters: refused before anything is written.
        FaultCase{"TotalOf2GB", {Fault::Total2GB}, 0, "", kTooLarge, {range(0)}, 0},
        FaultCase{"LastBeforeFirst",
                  {Fault::None, Fault::LastBeforeFirst},
                  0,
                  "",
                  kBadRange,
                  {range(0), range(10240)},
                  10240},
        FaultCase{"BodyShorterThanItsRange",
                  {Fault::None, Fault::ShortBody},
                  0,
                  "",
                  kBadRange,
                  {range(0), range(10240)},
                  10240},
        // A 416 for a range inside the resource: the local file is no prefix
        // of what the server has, so the transfer starts over, once.
        FaultCase{"UnsatisfiableTwice",
                  {Fault::Unsatisfiable, Fault::Unsatisfiable},
                  10240,
                  "",
                  kLengthMismatch,
                  {range(10240), range(0)},
                  0},
        FaultCase{"DroppedMidBody",
                  {Fault::None, Fault::None, Fault::DropMidBody},
                  0,
                  "1",
                  kConnectionFailed,
                  {range(0, 1024), range(1024, 1024), range(2048, 1024)},
                  2048},
        FaultCase{"StallPastTheTimeLimit",
                  {Fault::None, Fault::Stall},
                  0,
                  "1",
                  kTimeOut,
                  {range(0, 1024), range(1024, 1024)},
                  1024}),
    [](const auto& info) { return std::string(info.param.name); });

// A 416 whose length is not the local file's, once: fetched again from byte
// 0 in the same transfer.
TEST_F(Downloader, UnsatisfiableRangeInsideTheResourceStartsOver) {
    const std::vector<uint8_t> whole = content(25000);
    FaultHttpServer server(whole);
    ASSERT_TRUE(server.running());
    server.plan({Fault::Unsatisfiable});
    test_support::write_bytes(local(), prefix(whole, 10240));
    const auto reports = run({{server.address("a.zip"), "", ""}});
    EXPECT_EQ(reports.back(), std::string("result 1 ") + kDone);
    EXPECT_EQ(local_bytes(), whole);
    std::vector<std::string> ranges;
    for (const auto& r : server.requests())
        ranges.push_back(r.range);
    EXPECT_EQ(ranges,
              (std::vector<std::string>{range(10240), range(0), range(10240), range(20480)}));
}

// A 404 gives the server's own reason phrase, whatever it is.
TEST_F(Downloader, StatusTextIsTheServersReasonPhrase) {
    FaultHttpServer server(content(5000));
    ASSERT_TRUE(server.running());
    server.plan({Fault::NotFound});
    server.set_not_found_reason("No Such Archive");
    const auto reports = run({{server.address("a.zip"), "", ""}});
    EXPECT_EQ(reports.back(), "result 0 No Such Archive");
    EXPECT_EQ(reports[reports.size() - 2],
              "finish " + server.address("a.zip") + " 404 0 No Such Archive");
}

TEST_F(Downloader, RefusedConnectionIsAConnectionFailure) {
    const std::string address =
        "http://127.0.0.1:" + std::to_string(test_support::free_loopback_port()) + "/a.zip";
    const auto reports = run({{address, "", ""}});
    EXPECT_EQ(reports.back(), std::string("result 0 ") + kConnectionFailed);
}

// ---- the requests ----

// Every request carries the downloader's headers in its order and with its
// values, and the chunks of a transfer share one connection.
TEST_F(Downloader, RequestHeaders) {
    const std::vector<uint8_t> whole = content(25000);
    FaultHttpServer server(whole);
    ASSERT_TRUE(server.running());
    const auto reports = run({{server.address("up.dat.zip"), "", ""}});
    EXPECT_EQ(reports.back(), std::string("result 1 ") + kDone);
    EXPECT_EQ(local_bytes(), whole);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::vector<std::string> ours = {"Referer",      "Accept", "User-Agent",   "Range",
                                           "Content-Type", "Pragma", "Cache-Control"};
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].method, "GET");
        EXPECT_EQ(requests[i].target, "/up.dat.zip");
        EXPECT_EQ(requests[i].connection, requests[0].connection);
        std::vector<std::pair<std::string, std::string>> seen;
        for (const auto& header : requests[i].headers)
            for (const std::string& name : ours)
                if (strcasecmp(header.first.c_str(), name.c_str()) == 0)
                    seen.emplace_back(name, header.second);
        const std::vector<std::pair<std::string, std::string>> expected = {
            {"Referer", ""},
            {"Accept", "*/*"},
            {"User-Agent", "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)"},
            {"Range", range(i * 10240)},
            {"Content-Type", "application/octet-stream"},
            {"Pragma", "no-cache"},
            {"Cache-Control", "no-cache"},
        };
        EXPECT_EQ(seen, expected) << "request " << i;
    }
}

// ---- the life of one instance ----

class DownloaderLife : public Downloader {
  protected:
    void SetUp() override {
        test_support::write_bytes(site_ / "file.zip", whole_);
        ASSERT_TRUE(server_.running()) << server_.error();
    }
    std::string address() const { return server_.address("file.zip"); }
    std::string progress(int percent) const {
        return "progress " + local().string() + " 25000 " + std::to_string(percent);
    }
    std::string finish(int status, int percent, const std::string& message) const {
        return "finish " + address() + " " + std::to_string(status) + " " +
               std::to_string(percent) + (message.empty() ? " " : " " + message);
    }

    std::vector<uint8_t> whole_ = content(25000);
    test_support::ScratchDir site_;
    test_support::NginxServer server_{site_.path()};
};

// A second Init fails and keeps the first handlers; later clicks' Init
// (as the wizard calls it before every download) fail the same way.
TEST_F(DownloaderLife, InitTwice) {
    EXPECT_EQ(run({{address(), "", "init-twice"}, {address(), "", ""}}),
              (std::vector<std::string>{
                  "init 1", "init-again 0", progress(40), progress(81), progress(100),
                  finish(206, 100, kDone), std::string("result 1 ") + kDone,
                  // the second click: complete already
                  "init 0", finish(416, 100, kDone), std::string("result 1 ") + kDone}));
}

TEST_F(DownloaderLife, DownloadBeforeInit) {
    const auto reports = run({{address(), "", "download-first"}});
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[0], "before-init 0 没有初始化");
    EXPECT_EQ(reports[1], "init 1");
    EXPECT_EQ(reports.back(), std::string("result 1 ") + kDone);
}

// SetUrl and SetSavePath from inside the reports are ignored: the transfer
// keeps its address and file.
TEST_F(DownloaderLife, SettersFromInsideReportsAreIgnored) {
    EXPECT_EQ(
        run({{address(), "", "set-in-report"}}),
        (std::vector<std::string>{"init 1", progress(40), "set-save-path 0 progress", progress(81),
                                  "set-save-path 0 progress", progress(100),
                                  "set-save-path 0 progress", finish(206, 100, kDone),
                                  "set-save-path 0 finish", std::string("result 1 ") + kDone}));
    EXPECT_EQ(local_bytes(), whole_);
    for (const auto& r : server_.requests())
        EXPECT_EQ(r.uri, "/file.zip");
    EXPECT_FALSE(fs::exists(scratch_ / "elsewhere.bin"));
}

// Abort from a progress report ends the transfer after it with an empty
// last message (the aborted object has no status any more); the chunk
// stays and the next transfer resumes.
TEST_F(DownloaderLife, AbortFromAProgressReport) {
    EXPECT_EQ(run({{address(), "", "abort-in-report"}, {address(), "", ""}}),
              (std::vector<std::string>{
                  "init 1", progress(40), finish(-1, 40, ""), "result 0 ", "init 0", progress(81),
                  progress(100), finish(206, 100, kDone), std::string("result 1 ") + kDone}));
    EXPECT_EQ(local_bytes(), whole_);
}

// Reset from a progress report ends the transfer like Abort; the request
// object is released only after it, and the next Init makes a new one.
TEST_F(DownloaderLife, ResetFromAProgressReport) {
    EXPECT_EQ(run({{address(), "", "reset-in-report"}, {address(), "", ""}}),
              (std::vector<std::string>{
                  "init 1", progress(40), finish(-1, 40, ""), "result 0 ", "init 1", progress(81),
                  progress(100), finish(206, 100, kDone), std::string("result 1 ") + kDone}));
    EXPECT_EQ(local_bytes(), whole_);
}

// A Download from inside a report is refused with its own finish report,
// and the transfer that runs goes on to its own outcome.
TEST_F(DownloaderLife, DownloadFromInsideAReport) {
    EXPECT_EQ(run({{address(), "", "download-in-report"}}),
              (std::vector<std::string>{
                  "init 1", progress(40), finish(206, 40, "正在下载中……"), "nested 0", progress(81),
                  progress(100), finish(206, 100, kDone), std::string("result 1 ") + kDone}));
    EXPECT_EQ(local_bytes(), whole_);
}

TEST_F(DownloaderLife, SavePathThatCannotBeOpened) {
    fs::create_directories(local());
    const auto reports = run({{address(), "", ""}});
    EXPECT_EQ(reports.back(), "result 0 本地文件无法打开");
    EXPECT_TRUE(server_.requests().empty());
}

}  // namespace
