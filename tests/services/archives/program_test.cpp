// The archive and network commands through the whole chain: a program image
// (programs/archives.*) in a program with the kernel and the eCompress
// library, run in a folder the test prepares, on Linux and under wine64.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/encoding.h"
#include "tests/services/archives/zip_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_session.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_text;

const fs::path kNative = NATIVE_BUILD_DIR;
const fs::path kWinX64 = WIN_X64_DIR;
constexpr int64_t kWhen = 1623760497;  // an odd second

// What the program reports, in order; the refused archive also leaves its
// reason, and the program ends with its window.
const char* const kTranscript = R"(window-open 0x52010001 "压缩"
unit-text 标签_报告 "打包 1"
unit-text 标签_报告 "解包 1"
archive-failed command=unpack archive="坏.zip" entry="..\\逃.txt" why="not a plain file name"
unit-text 标签_报告 "拒绝 0"
archive-failed command=pack archive="空.zip" entry="没有.txt" why="no such file"
unit-text 标签_报告 "缺少 0"
unit-text 标签_报告 "解析 127.0.0.1 127.0.0.1 []"
unit-text 标签_报告 "回显 1 -1"
window-close 0x52010001 "压缩"
end 0
)";

class ArchiveProgram : public ::testing::Test {
  protected:
    // The working folder: the file to pack and a hostile archive.
    void prepare() {
        fs::create_directories(dir_ / "work" / "数据");
        const std::string content = "第一行\r\n第二行";
        test_support::write_bytes(
            dir_ / "work" / "数据" / "输入.txt",
            std::span(reinterpret_cast<const uint8_t*>(content.data()), content.size()));
        const timespec times[2] = {{kWhen, 0}, {kWhen, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / "work" / "数据" / "输入.txt").c_str(), times, 0), 0);
        test_support::write_bytes(
            dir_ / "work" / "坏.zip",
            archive_fixture::build(
                {{"fine.txt", "x"}, {"..\\" + base::utf8_to_gbk("逃.txt").value(), "x"}}));
        fs::create_directories(dir_ / "tmp");
    }

    void check(int exit_code, const std::string& err) {
        EXPECT_EQ(exit_code, 0) << err;
        EXPECT_EQ(read_text(dir_ / "transcript"), kTranscript);
        const fs::path unpacked = dir_ / "work" / "出" / "子" / "输入.txt";
        EXPECT_EQ(read_text(unpacked), "第一行\r\n第二行");
        struct stat facts;
        ASSERT_EQ(stat(unpacked.c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mtim.tv_sec, kWhen);
        // The hostile archive wrote nothing, in the folder or beside it.
        EXPECT_FALSE(fs::exists(dir_ / "work" / "出" / "fine.txt"));
        EXPECT_FALSE(fs::exists(dir_ / "work" / "逃.txt"));
        EXPECT_FALSE(fs::exists(dir_ / "逃.txt"));
        EXPECT_FALSE(fs::exists(dir_ / "work" / "空.zip"));
    }

    test_support::ScratchDir dir_;
};

TEST_F(ArchiveProgram, OnLinux) {
    prepare();
    const fs::path program = dir_ / "archives";
    test_support::assemble_program(program, kNative, kNative / "images" / "archives-x86-64.img",
                                   {"eCompress"}, "gs-archives-" + std::to_string(getpid()));
    auto result = test_support::run(
        {program.string()},
        {"TMPDIR=" + (dir_ / "tmp").string(), "WJRT_TRANSCRIPT=" + (dir_ / "transcript").string()},
        60, dir_ / "work");
    check(result.exit_code, result.err);
}

TEST_F(ArchiveProgram, UnderWine) {
    auto& wine = test_support::WineSession::ensure();
    if (wine.state() == test_support::WineSession::State::NotInstalled)
        GTEST_SKIP() << wine.message();
    ASSERT_EQ(wine.state(), test_support::WineSession::State::Running) << wine.message();
    prepare();
    const fs::path program = dir_ / "archives.exe";
    test_support::assemble_program(program, kWinX64, kNative / "images" / "archives-x86-64.img",
                                   {"eCompress"}, "gs-archives-" + std::to_string(getpid()));
    std::vector<std::string> environment = wine.environment();
    environment.push_back("WJRT_TRANSCRIPT=" + test_support::windows_path(dir_ / "transcript"));
    auto result =
        test_support::run({wine.wine(), program.string()}, environment, 120, dir_ / "work");
    check(result.exit_code, result.err);
}

}  // namespace
