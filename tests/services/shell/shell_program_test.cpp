// The shell functions through the whole chain: the real stub, a runtime
// package with the kernel and pbshell, and the program of programs/shell.*,
// driven by scripts on Linux and under wine64, where Windows does part of it
// itself (the shell's link object, CallWindowProcA, the drawing functions).
// Each run is judged by its transcript, its exit code and the files it wrote.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "tests/support/scenario.h"

namespace {

namespace fs = std::filesystem;
using test_support::ScenarioResult;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ShellProgram : public test_support::ScenarioTest {
  protected:
    ScenarioResult run(const std::string& script) {
        return ScenarioTest::run(program("shell", {"pbshell"}), {.script = script});
    }
};

const char* const kDialog = "folder-dialog title=\"请选择发布程序所在文件夹！\"";

// The program's folder rule over what the person picks: a drive root gives
// its two characters, a name the ANSI code page cannot hold gives nothing, a
// computer of the network gives "\\" and its name.
TEST_P(ShellProgram, FolderChoicesReachTheProgramAsTheDialogGivesThem) {
    struct Case {
        const char* what;
        const char* step;
        const char* answer;  // as the transcript quotes it
        const char* result;  // the text of 编辑框_目录, quoted
    };
    const Case cases[] = {
        {"folder", "choose-folder /srv/发布", "\"/srv/发布\"", "\"/srv/发布\""},
        {"Windows folder", "choose-folder \"D:\\\\游戏\\\\发布\"", "\"D:\\\\游戏\\\\发布\"",
         "\"D:\\\\游戏\\\\发布\""},
        {"drive root", "choose-folder D:\\", "\"D:\\\\\"", "\"D:\""},
        {"name without a GBK form", "choose-folder /srv/发布😀", "\"/srv/发布?\"", "\"\""},
        {"name with a question mark", "choose-folder \"/srv/a?b\"", "\"/srv/a?b\"", "\"\""},
        {"question mark above the last part", "choose-folder \"/srv/a?/b\"", "\"/srv/a?/b\"",
         "\"/srv/a?/b\""},
        {"computer of the network", "choose-folder \\\\server", "\"\\\\\\\\server\"",
         "\"\\\\\\\\server\""},
        {"share of the network", "choose-folder \\\\server\\share", "\"\\\\\\\\server\\\\share\"",
         "\"\\\\\\\\server\\\\share\""},
        {"cancelled", "cancel-folder", "cancel", "\"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScenarioResult r = run(std::string("click 按钮_选择目录\n") + c.step + "\n");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(contains(r.transcript, std::string("user-click 按钮_选择目录\n") + kDialog +
                                               " answer=" + c.answer + "\nunit-text 编辑框_目录 " +
                                               c.result + "\nscript-end"))
            << r.transcript;
    }
}

TEST_P(ShellProgram, AFolderDialogWithoutItsStepFailsTheRun) {
    struct Case {
        const char* what;
        const char* script;
        std::string ending;
    };
    const Case cases[] = {
        {"script ended", "click 按钮_选择目录\n",
         std::string(kDialog) +
             "\nautomation-failure \"the folder dialog \\\"请选择发布程序所在文件夹！\\\" is up, "
             "and the script has ended\"\n"},
        {"another step next", "click 按钮_选择目录\nclick 按钮_回调\n",
         std::string(kDialog) +
             "\nautomation-failure \"the folder dialog \\\"请选择发布程序所在文件夹！\\\" is up, "
             "and the next step is not a folder choice: line 2 (click 按钮_回调)\"\n"},
        {"no dialog up", "cancel-folder\n",
         "automation-failure \"line 1 (cancel-folder): no folder dialog is up\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScenarioResult r = run(c.script);
        EXPECT_EQ(r.exit_code, 3);
        ASSERT_GE(r.transcript.size(), c.ending.size());
        EXPECT_EQ(r.transcript.substr(r.transcript.size() - c.ending.size()), c.ending)
            << r.transcript;
    }
}

// CallWindowProcA calls the program's routine with its four arguments (in
// full width) and gives back what it returns; no routine gives 0. Both
// declarations, without library and as "USER32.DLL", reach it.
TEST_P(ShellProgram, CallWindowProcRunsTheProgramsRoutine) {
    ScenarioResult r = run("click 按钮_回调\n");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(contains(r.transcript,
                         "user-click 按钮_回调\n"
                         "unit-text 标签_结果 \"回调 7 8 9 -10\"\n"
                         "unit-text 标签_结果 \"回调 4294967296 1 2 3\"\n"
                         "unit-text 标签_结果 \"回调结果 14 4294967302 0\"\n"))
        << r.transcript;
}

// Drawing on a canvas through its handle: the rounded region and the two
// gradients are what a person would see; the results are the system's.
TEST_P(ShellProgram, DrawingOnACanvasIsRecorded) {
    ScenarioResult r = run("click 按钮_绘制\n");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    if (windows()) {
        // The system's drawing functions meet handles of the headless
        // backend, which name no window of theirs: they refuse them, and
        // nothing breaks.
        EXPECT_TRUE(contains(r.transcript, "unit-text 标签_结果 \"绘制 1 1 2 297 20 "))
            << r.transcript;
        return;
    }
    EXPECT_TRUE(contains(r.transcript,
                         "user-click 按钮_绘制\n"
                         "unit-region 画板1 round 0 0 297 20 5 5\n"
                         "unit-gradient 画板1 0 0 148 10 vertical #E7F3E8 #E1DBE1\n"
                         "unit-gradient 画板1 0 10 297 10 horizontal #1AE41A #D9F4D9\n"
                         // SetRect, the rectangle, region, shaped, DC, two fills, the
                         // triangle refused, released, released again, a DC of no unit
                         "unit-text 标签_结果 \"绘制 1 1 2 297 20 1 1 1 1 1 0 1 0 0\"\n"))
        << r.transcript;
}

// The shortcut file as lnkinfo reads it on the Linux side: written by our
// own writer on Linux, by the shell's link object under wine64.
TEST_P(ShellProgram, ShortcutFileWritten) {
    if (!fs::exists("/usr/bin/lnkinfo"))
        GTEST_SKIP() << "lnkinfo is not installed (liblnk-utils)";
    const fs::path link = scenario().folder() / "星河.lnk";
    ScenarioResult r =
        run("type 编辑框_快捷方式 " + test_support::script_quoted(host_path(link)) +
            "\nclick 按钮_快捷方式\ntype 编辑框_快捷方式 " +
            test_support::script_quoted(host_path(scenario().folder() / "none" / "x.lnk")) +
            "\nclick 按钮_快捷方式\n");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(
        contains(r.transcript, "user-click 按钮_快捷方式\nunit-text 标签_结果 \"快捷方式 1\"\n"))
        << r.transcript;
    EXPECT_TRUE(contains(r.transcript, "unit-text 标签_结果 \"快捷方式 0\"\n")) << r.transcript;
    auto info = test_support::run({"/usr/bin/lnkinfo", link.string()}, {});
    EXPECT_EQ(info.exit_code, 0) << info.err;
    EXPECT_TRUE(contains(info.out, "\tDescription\t\t\t: 星河\r\n星河\n")) << info.out;
    EXPECT_TRUE(contains(info.out, "\tWorking directory\t\t: C:\\游戏\\\n")) << info.out;
    if (!windows()) {
        EXPECT_TRUE(contains(info.out, "\tLocal path\t\t\t: C:\\游戏\\登录器.exe\n")) << info.out;
        return;
    }
    // Wine keeps the target's names only in its own ANSI code page, which
    // is not GBK here: of the target, only what is ASCII can be compared.
    EXPECT_TRUE(contains(info.out, "\tLocal path\t\t\t: C:\\")) << info.out;
    EXPECT_TRUE(contains(info.out, ".exe\n")) << info.out;
}

INSTANTIATE_TEST_SUITE_P(Systems, ShellProgram, test_support::both_systems(),
                         test_support::system_test_name);

}  // namespace
