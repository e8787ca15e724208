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
#include "tests/support/scenario.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_text;

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

class ArchiveProgram : public test_support::ScenarioTest {
  protected:
    // The working folder: the file to pack and a hostile archive.
    void prepare() {
        work_folder()
            .file("数据/输入.txt", "第一行\r\n第二行", kWhen)
            .file("坏.zip",
                  archive_fixture::build(
                      {{"fine.txt", "x"}, {"..\\" + base::utf8_to_gbk("逃.txt").value(), "x"}}));
    }

    void check(const test_support::ScenarioResult& result) {
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.transcript, kTranscript);
        const fs::path unpacked = work() / "出" / "子" / "输入.txt";
        EXPECT_EQ(read_text(unpacked), "第一行\r\n第二行");
        struct stat facts;
        ASSERT_EQ(stat(unpacked.c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mtim.tv_sec, kWhen);
        // The hostile archive wrote nothing, in the folder or beside it.
        EXPECT_FALSE(fs::exists(work() / "出" / "fine.txt"));
        EXPECT_FALSE(fs::exists(work() / "逃.txt"));
        EXPECT_FALSE(fs::exists(work().parent_path() / "逃.txt"));
        EXPECT_FALSE(fs::exists(work() / "空.zip"));
    }
};

TEST_P(ArchiveProgram, PacksUnpacksAndRefuses) {
    prepare();
    check(run(program("archives", {"eCompress"}), {.working_folder = work()}));
}

INSTANTIATE_TEST_SUITE_P(Systems, ArchiveProgram, test_support::both_systems(),
                         test_support::system_test_name);

}  // namespace
