// HTTP at the end of the whole chain: a program image (programs/
// network_probe.*) that fetches through the internet library and the HTTP
// request object, run by the kernel on Linux and, the same image, under
// wine64 with the Windows libraries (WinINet, the system's COM object).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/services/network/web_fixture.h"
#include "tests/support/wine_session.h"

namespace network_test {
namespace {

const fs::path kNative = NATIVE_BUILD_DIR;
const fs::path kWinX64 = WIN_X64_DIR;
const fs::path kImage = kNative / "images" / "network_probe-x86-64.img";

// The texts the program gave its report label, in order.
std::vector<std::string> reports(const std::string& transcript) {
    std::vector<std::string> out;
    std::istringstream lines(transcript);
    std::string line;
    const std::string prefix = "unit-text 标签_报告 \"";
    while (std::getline(lines, line))
        if (line.starts_with(prefix) && line.ends_with("\""))
            out.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
    return out;
}

std::string range_report(const char* what, size_t from, size_t count) {
    const std::vector<uint8_t> whole = whole_content();
    return std::string(what) + " 4 206 Partial Content|bytes " + std::to_string(from) + "-" +
           std::to_string(from + count - 1) + "/25000| " + std::to_string(count) + " " +
           std::to_string(sum_of(whole, from, count));
}

// What the program reports with a working server and a dropping one. A
// dropped connection leaves the request without a reply: reading its status
// fails on Linux (-1 in the report), while Wine's object gives 0.
std::vector<std::string> expected_reports(const char* dropped_status = "-1") {
    const std::vector<uint8_t> whole = whole_content();
    return {
        "get whole.bin 25000 " + std::to_string(sum_of(whole)),
        "get named 5 532",
        "get missing.bin failed",
        "get dropped failed",
        range_report("range", 0, 10240),
        range_report("range", 10240, 10240),
        range_report("range", 20480, 4520),
        "beyond 4 416 Requested Range Not Satisfiable|bytes */25000| 0 0",
        "missing 4 404 Not Found|| 0 0",
        "whole 4 200 OK|| 25000 " + std::to_string(sum_of(whole)),
        std::string("dropped 4 ") + dropped_status + " || 0 0",
        range_report("again", 0, 10240),
        "unknown class 0 member 1",
        "done",
    };
}

class NetworkProgram : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server_.running()) << server_.error(); }

    void write_script() {
        std::ofstream(scratch_ / "script") << "type 编辑框_地址 \"" << server_.address() << "\"\n"
                                           << "type 编辑框_断开 \"" << dropping_.address() << "\"\n"
                                           << "click 按钮_开始\n";
    }

    fs::path transcript() const { return scratch_ / "transcript"; }

    // The requests of the request object (they carry a Range header; the
    // library's whole fetches do not) all came on one connection.
    void expect_one_connection_for_ranges() {
        std::vector<long> connections;
        for (const auto& r : server_.requests())
            if (r.range != "-")
                connections.push_back(r.connection);
        ASSERT_EQ(connections.size(), 6u);
        for (long c : connections)
            EXPECT_EQ(c, connections.front());
    }

    Site site_;
    test_support::NginxServer server_{site_.folder()};
    BadServer dropping_{BadServer::Manner::Close};
    test_support::ScratchDir scratch_;
};

TEST_F(NetworkProgram, RunsOnLinux) {
    const fs::path program = scratch_ / "network_probe";
    test_support::assemble_program(program, kNative, kImage, {"internet"},
                                   "gs-network-" + std::to_string(getpid()));
    write_script();
    fs::create_directories(scratch_ / "tmp");
    auto result =
        test_support::run({program.string()}, {"TMPDIR=" + (scratch_ / "tmp").string(),
                                               "WJRT_SCRIPT=" + (scratch_ / "script").string(),
                                               "WJRT_TRANSCRIPT=" + transcript().string()});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(reports(test_support::read_text(transcript())), expected_reports())
        << test_support::read_text(transcript());
    expect_one_connection_for_ranges();
}

TEST_F(NetworkProgram, ReleasingAForeignHandleEndsTheProgram) {
    const fs::path program = scratch_ / "network_probe";
    test_support::assemble_program(program, kNative, kImage, {"internet"},
                                   "gs-network-" + std::to_string(getpid()));
    std::ofstream(scratch_ / "script") << "click 按钮_外来\n";
    fs::create_directories(scratch_ / "tmp");
    auto result =
        test_support::run({program.string()}, {"TMPDIR=" + (scratch_ / "tmp").string(),
                                               "WJRT_SCRIPT=" + (scratch_ / "script").string(),
                                               "WJRT_TRANSCRIPT=" + transcript().string()});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(test_support::read_text(transcript())
                  .find("msgbox title=\"Error\" icon=error buttons=ok text=\"The object handle 77 "
                        "is not one the program holds.\""),
              std::string::npos)
        << test_support::read_text(transcript());
}

TEST_F(NetworkProgram, RunsUnderWine) {
    auto& wine = test_support::WineSession::ensure();
    if (wine.state() == test_support::WineSession::State::NotInstalled)
        GTEST_SKIP() << wine.message();
    ASSERT_EQ(wine.state(), test_support::WineSession::State::Running) << wine.message();
    const fs::path program = scratch_ / "network_probe.exe";
    test_support::assemble_program(program, kWinX64, kImage, {"internet"},
                                   "gs-network-" + std::to_string(getpid()));
    write_script();
    std::vector<std::string> environment = wine.environment();
    environment.push_back("WJRT_SCRIPT=" + test_support::windows_path(scratch_ / "script"));
    environment.push_back("WJRT_TRANSCRIPT=" + test_support::windows_path(transcript()));
    auto result = test_support::run({wine.wine(), program.string()}, environment, 120);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(reports(test_support::read_text(transcript())), expected_reports("0"))
        << test_support::read_text(transcript());
    expect_one_connection_for_ranges();
}

}  // namespace
}  // namespace network_test
