// The updater against a server that misbehaves while a file archive comes
// (the tests' fault-injecting server on loopback): whatever the fault, the
// update ends on the error panel with the updater's own message, naming the
// file and the download's reason, before anything is replaced, so the
// installed files and "up.dat" stay byte for byte as they were; and the
// next run against a sound server installs the release byte for byte.
// (The same faults on the manifest archive: AListFetchFromAFaultyServer-
// ChangesNothing.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fault_http_server.h"
#include "tests/support/scenario.h"
#include "tests/updater/update_fixture.h"

namespace {

using namespace update_test;
using test_support::FaultHttpServer;
using test_support::ScenarioResult;
using test_support::System;
using Fault = FaultHttpServer::Fault;

const char kNoRanges[] = "服务器不支持断点续传！";
const char kLengthUnknown[] = "文件长度未知！";
const char kConnectionFailed[] = "网络连接失败，建议重试。";
const char kBadRange[] = "服务器返回的数据范围有误！";
const char kLengthMismatch[] = "服务器上的文件长度与本地文件不符！";
const char kTimeOut[] = "数据下载超时，建议重试。";

// Bytes that do not compress: the archive takes three chunks.
std::string noise(size_t size) {
    std::string bytes(size, '\0');
    uint32_t x = 7;
    for (char& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<char>(x >> 16);
    }
    return bytes;
}

struct ArchiveFault {
    const char* what;
    std::vector<Fault> plan;  // of the requests for "x.dll.zip", from its first
    const char* reason;       // the download's outcome, as the message shows it
    bool everywhere;          // also run on win-x64 under wine64
};

// Most faults hit the second chunk, so that a prefix of the archive is
// already on disk when the transfer fails.
const std::vector<ArchiveFault> kFaults = {
    {"a 200 to a range", {Fault::None, Fault::IgnoreRange}, kNoRanges, true},
    {"404", {Fault::NotFound}, "Not Found", true},
    // The second 416 comes after the transfer started over from byte 0.
    {"416 for a length the file does not have",
     {Fault::None, Fault::Unsatisfiable, Fault::Unsatisfiable},
     kLengthMismatch,
     false},
    {"a connection dropped mid-body", {Fault::None, Fault::DropMidBody}, kConnectionFailed, false},
    {"a body shorter than its range", {Fault::None, Fault::ShortBody}, kBadRange, false},
    {"a wrong Content-Range start", {Fault::None, Fault::WrongStart}, kBadRange, true},
    {"a missing total", {Fault::NoTotal}, kLengthUnknown, false},
    {"a total that is no number", {Fault::None, Fault::TotalNotNumber}, kLengthUnknown, false},
    // One byte every 500 ms keeps the connection alive past the request's
    // time limit of 102.4 s.
    {"a stall past the time limit", {Fault::None, Fault::Trickle}, kTimeOut, false},
    // Under wine the request object never ends a request to a port that
    // is no longer listened on: the time limit ends it, 102.4 s later.
    {"a server that is gone", {Fault::None, Fault::Gone}, kConnectionFailed, false},
};

class UpdateFaultMatrix : public Update {};

TEST_P(UpdateFaultMatrix, AFaultyFileArchiveChangesNothingAndTheNextRunInstalls) {
    const std::vector<ReleaseFile> old_files = release_one();
    std::vector<ReleaseFile> files = old_files;
    // a.txt comes whole before x.dll fails: it must not be put in place either.
    files[0].content = "alpha 2";
    files[0].time = kNew;
    files[1].content = noise(25000);
    files[1].time = kNew;
    const fs::path dir = server_ / "updates";
    const std::string manifest = publish(dir, files, {"a.txt", "x.dll"}, "2.0");

    for (const ArchiveFault& c : kFaults) {
        if (windows() && !c.everywhere)
            continue;
        SCOPED_TRACE(c.what);
        FaultHttpServer faulty({});
        ASSERT_TRUE(faulty.running());
        for (const char* name : {"up.dat.zip", "a.txt.zip", "x.dll.zip"}) {
            const std::string bytes = read_all(dir / name);
            faulty.serve_file(std::string("/updates/") + name,
                              std::vector<uint8_t>(bytes.begin(), bytes.end()));
        }
        faulty.plan_for("/updates/x.dll.zip", c.plan);
        faulty.set_stall_seconds(200);
        settings(faulty.address("updates/"));
        install(old_files);
        const auto before = snapshot(install_);
        ScenarioResult r = run(script(2));
        EXPECT_TRUE(r.contains(std::string("unit-text 编辑框_出错提示 \"    下载更新文件 'x.dll' "
                                           "时出错（") +
                               c.reason + "），本次更新未做任何改动，请稍后再试！\""))
            << r.transcript;
        EXPECT_TRUE(r.contains("unit-visible 图片框_出错提示 1")) << r.transcript;
        EXPECT_FALSE(r.contains(kCompleted)) << r.transcript;
        EXPECT_EQ(snapshot(install_), before);
        size_t archive_requests = 0;
        for (const auto& request : faulty.requests())
            archive_requests += request.target == "/updates/x.dll.zip";
        EXPECT_GE(archive_requests, c.plan.size()) << "the fault was never reached";

        settings(web_->address("updates/"));
        r = run(script(2));
        EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
        for (const ReleaseFile& f : files)
            EXPECT_EQ(read_all(install_ / test_support::u8path(relative_unix(f.path))), f.content)
                << f.name;
        EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
        EXPECT_FALSE(fs::exists(install_ / "update"));
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, UpdateFaultMatrix, test_support::both_systems(),
                         test_support::system_test_name);

}  // namespace
