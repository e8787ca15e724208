// Profile files through the whole chain: a program image that reads and
// writes them with the kernel commands, in a folder and files with GBK
// names, run on Linux and, the same image, under wine64; the files' bytes
// afterwards are checked.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/encoding.h"
#include "tests/support/scenario.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_text;

// The files in UTF-8 here, in GBK on disk.
const char* const kSettingsBefore =
    "[Main]\r\nTitle = \"我的服务器\" \r\n\r\n[版本]\r\n版本号=1.0\r\n";
const char* const kSettingsAfter =
    "[Main]\r\nTitle=新标题\r\n增加=是\r\n\r\n[版本]\r\n版本号=1.0\r\n[新节]\r\n键=值\r\n";
const char* const kNewFile = "[文件]\r\n文件名=a.exe\r\n";
// Read trimmed without quotes, read in another letter case, two missing
// reads, four writes that succeed and one with a line break refused, and
// the value written read back.
const char* const kReport = "unit-text 编辑框1 \"[我的服务器][1.0][][]11110[新标题]\"\n";

class ProfileChain : public test_support::ScenarioTest {
  protected:
    // The working folder with "配置/设置.ini" as the program finds it.
    void prepare() { work_folder().file("配置/设置.ini", gbk(kSettingsBefore)); }

    static std::string gbk(const char* utf8) { return base::utf8_to_gbk(utf8).value(); }

    std::string utf8_of(const fs::path& path) {
        return base::gbk_to_utf8(read_text(path)).value_or("(not GBK)");
    }

    void expect_files(const fs::path& folder) {
        EXPECT_EQ(utf8_of(folder / "配置" / "设置.ini"), kSettingsAfter);
        EXPECT_EQ(utf8_of(folder / "配置" / "新的.ini"), kNewFile);
        EXPECT_FALSE(fs::exists(folder / "配置" / "没有.ini"));
        size_t count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder / "配置"))
            ++count;
        EXPECT_EQ(count, 2u);  // no temporary file stays behind
    }
};

TEST_P(ProfileChain, ReadsAndWrites) {
    prepare();
    auto result = run(program("profile_program"), {.working_folder = work()});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(result.contains(kReport)) << result.transcript;
    expect_files(work());
}

INSTANTIATE_TEST_SUITE_P(Systems, ProfileChain, test_support::both_systems(),
                         test_support::system_test_name);

}  // namespace
