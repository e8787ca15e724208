// HTTP at the end of the whole chain: a program image (programs/
// network_probe.*) that fetches through the internet library and the HTTP
// request object, run by the kernel on Linux and, the same image, under
// wine64 with the Windows libraries (WinINet, the system's COM object).
#include <gtest/gtest.h>

#include <sstream>

#include "tests/services/network/web_fixture.h"
#include "tests/support/scenario.h"

namespace network_test {
namespace {

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

class NetworkProgram : public test_support::ScenarioTest {
  protected:
    fs::path probe() { return program("network_probe", {"internet"}); }

    // The requests of the request object (they carry a Range header; the
    // library's whole fetches do not) all came on one connection.
    void expect_one_connection_for_ranges(const test_support::NginxServer& server) {
        std::vector<long> connections;
        for (const auto& r : server.requests())
            if (r.range != "-")
                connections.push_back(r.connection);
        ASSERT_EQ(connections.size(), 6u);
        for (long c : connections)
            EXPECT_EQ(c, connections.front());
    }
};

TEST_P(NetworkProgram, Runs) {
    Site site;
    const test_support::NginxServer& server = serve(site.folder());
    BadServer dropping(BadServer::Manner::Close);
    auto result = run(
        probe(), {.script = "type 编辑框_地址 \"" + server.address() + "\"\ntype 编辑框_断开 \"" +
                            dropping.address() + "\"\nclick 按钮_开始\n"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(reports(result.transcript), expected_reports(windows() ? "0" : "-1"))
        << result.transcript;
    expect_one_connection_for_ranges(server);
}

TEST_P(NetworkProgram, ReleasingAForeignHandleEndsTheProgram) {
    auto result = run(probe(), {.script = "click 按钮_外来\n"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(
        result.contains("msgbox title=\"Error\" icon=error buttons=ok text=\"The object handle 77 "
                        "is not one the program holds.\""))
        << result.transcript;
}

INSTANTIATE_TEST_SUITE_P(Systems, NetworkProgram, test_support::both_systems(),
                         test_support::system_test_name);

}  // namespace
}  // namespace network_test
