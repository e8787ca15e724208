// Programs with windows, driven by scripts, through the whole chain: the real
// stub, a runtime package holding the real kernel library, and the image of
// the example application (examples/hello) or of the property program
// (programs/properties.*). Each run is judged by its transcript and exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "loader/package/writer.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_session.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_bytes;
using test_support::read_text;

const fs::path kNative = NATIVE_BUILD_DIR;
const fs::path kWinX64 = WIN_X64_DIR;

// The example application, used as a person would: greet, add a name, change
// the settings in the modal window, greet again, remove a name, open the
// settings and close them unchanged, close the main window.
const char* const kHelloScript = R"(# the example application, start to end
expect-window 52010001
select 列表框_名单 1
click 按钮_问候
answer ok
type 编辑框_名字 "王五"
click 按钮_添加
click 按钮_设置
expect-window 52010002
type 编辑框_编号 "2"
click 单选框_句号
click 按钮_确定
expect-window 52010001
select 列表框_名单 2
click 按钮_问候
answer ok
click 按钮_删除
answer yes
click 按钮_设置
type 编辑框_编号 "3"
close
select 列表框_名单 0
click 按钮_问候
answer ok
close
)";

const char* const kHelloTranscript = R"(window-open 0x52010001 "问候"
unit-text 标签_状态 "共 2 个名字"
user-select 列表框_名单 1
list-select 列表框_名单 1
unit-text 标签_状态 "已选择：李四"
unit-enabled 按钮_问候 1
unit-enabled 按钮_删除 1
user-click 按钮_问候
msgbox title="问候" icon=information buttons=ok text="你好，李四！" answer=ok
user-type 编辑框_名字 "王五"
unit-text 编辑框_名字 "王五"
unit-enabled 按钮_添加 1
user-click 按钮_添加
list-insert 列表框_名单 2 "王五"
unit-text 编辑框_名字 ""
unit-enabled 按钮_添加 0
unit-text 标签_状态 "共 3 个名字"
user-click 按钮_设置
window-open 0x52010002 "设置"
unit-text 编辑框_编号 "1"
user-type 编辑框_编号 "2"
unit-text 编辑框_编号 "2"
user-click 单选框_句号
unit-checked 单选框_叹号 0
unit-checked 单选框_句号 1
user-click 按钮_确定
window-close 0x52010002 "设置"
unit-text 标签_状态 "问候语：早上好"
user-select 列表框_名单 2
list-select 列表框_名单 2
unit-text 标签_状态 "已选择：王五"
user-click 按钮_问候
msgbox title="问候" icon=information buttons=ok text="早上好，王五。" answer=ok
user-click 按钮_删除
msgbox title="删除" icon=none buttons=yesno text="要删除“王五”吗？" answer=yes
list-remove 列表框_名单 2
unit-enabled 按钮_问候 0
unit-enabled 按钮_删除 0
unit-text 标签_状态 "共 2 个名字"
user-click 按钮_设置
window-open 0x52010002 "设置"
unit-text 编辑框_编号 "2"
unit-checked 单选框_叹号 0
unit-checked 单选框_句号 1
user-type 编辑框_编号 "3"
unit-text 编辑框_编号 "3"
user-close 0x52010002
window-close 0x52010002 "设置"
unit-text 标签_状态 "问候语：早上好"
user-select 列表框_名单 0
list-select 列表框_名单 0
unit-text 标签_状态 "已选择：张三"
unit-enabled 按钮_问候 1
unit-enabled 按钮_删除 1
user-click 按钮_问候
msgbox title="问候" icon=information buttons=ok text="早上好，张三。" answer=ok
user-close 0x52010001
window-close 0x52010001 "问候"
end 0
)";

struct Outcome {
    int exit_code = -1;
    std::string transcript;
    std::string err;
};

// The last `count` lines of a transcript, each with its line end.
std::string tail(const std::string& transcript, size_t count) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < transcript.size();) {
        size_t end = transcript.find('\n', at);
        end = end == std::string::npos ? transcript.size() : end + 1;
        lines.push_back(transcript.substr(at, end - at));
        at = end;
    }
    std::string last;
    for (size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i)
        last += lines[i];
    return last;
}

class WindowPrograms : public ::testing::Test {
  protected:
    // A program is made on its first use: every run after the first starts
    // warm from the same runtime folder.
    static void SetUpTestSuite() {
        scratch_ = new test_support::ScratchDir;
        fs::create_directories(*scratch_ / "tmp");
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
    }

    static fs::path make_program(const fs::path& stub, const fs::path& kernel,
                                 const fs::path& image, const std::string& name) {
        fs::path path = *scratch_ / name;
        if (fs::exists(path))
            return path;
        const loader::RuntimeFile files[] = {{"krnln.fne", read_bytes(kernel)}};
        // Level 1: the kernel of a sanitizer build is large.
        std::vector<uint8_t> package = loader::build_package(
            files, 0, "gs-windows-" + std::to_string(getpid()), 0x13572468, 1);
        test_support::write_bytes(
            path, test_support::make_program(read_bytes(stub), read_bytes(image), package), true);
        return path;
    }

    // The Linux program of an x86-64 image.
    static fs::path linux_program(const std::string& name) {
        return make_program(kNative / "loader" / "stub",
                            kNative / "runtime" / "kernel" / "krnln.fne",
                            kNative / "images" / (name + "-x86-64.img"), name);
    }

    static fs::path path(const std::string& name) { return *scratch_ / name; }

    // The script of the next run, and no transcript yet.
    static void prepare(const std::string& script) {
        test_support::write_bytes(
            path("script"),
            std::span(reinterpret_cast<const uint8_t*>(script.data()), script.size()));
        fs::remove(path("transcript"));
    }

    Outcome run(const std::string& program, const std::string& script) {
        prepare(script);
        auto result = test_support::run(
            {linux_program(program).string()},
            {"TMPDIR=" + path("tmp").string(), "WJRT_SCRIPT=" + path("script").string(),
             "WJRT_TRANSCRIPT=" + path("transcript").string()});
        return {result.exit_code, read_text(path("transcript")), result.err};
    }

    static test_support::ScratchDir* scratch_;
};

test_support::ScratchDir* WindowPrograms::scratch_ = nullptr;

TEST_F(WindowPrograms, ExampleApplicationFollowsItsScript) {
    Outcome r = run("hello", kHelloScript);
    // Under the sanitizers a block the program kept ends the run with a
    // report and another exit code.
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.transcript, kHelloTranscript);
}

// The SDK's handles reach the units they name with the operation they say,
// and the start routine opens the start window the description names
// (52010002, with a window 52010001 there that must stay closed).
TEST_F(WindowPrograms, TypedHandlesAndTheNamedStartWindow) {
    Outcome r = run("handles", "");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.transcript, R"(window-open 0x52010002 "句柄"
list-insert 列表框1 0 "丙"
list-insert 列表框1 3 "丁"
list-item 列表框1 1 "戊"
list-remove 列表框1 2
list-select 列表框1 1
unit-checked 单选框1 0
unit-checked 单选框2 1
unit-place 标签_移动 11 1 1 1
unit-place 标签_移动 11 12 1 1
unit-place 标签_移动 11 12 13 1
unit-place 标签_移动 11 12 13 14
unit-visible 标签_移动 0
unit-enabled 编辑框1 0
unit-text 编辑框1 "文字"
window-text 0x52010002 "新标题"
unit-text 标签_报告 "报告 3 1 0 11 0 0 戊文字"
script-end open=0x52010002
end 0
)");
}

TEST_F(WindowPrograms, ExampleApplicationUnderWineLeavesTheSameTranscript) {
    auto& wine = test_support::WineSession::ensure();
    if (wine.state() == test_support::WineSession::State::NotInstalled)
        GTEST_SKIP() << wine.message();
    ASSERT_EQ(wine.state(), test_support::WineSession::State::Running) << wine.message();
    const fs::path program =
        make_program(kWinX64 / "loader" / "stub.exe", kWinX64 / "runtime" / "kernel" / "krnln.fne",
                     kNative / "images" / "hello-x86-64.img", "hello.exe");
    prepare(kHelloScript);
    std::vector<std::string> environment = wine.environment();
    environment.push_back("WJRT_SCRIPT=" + test_support::windows_path(path("script")));
    environment.push_back("WJRT_TRANSCRIPT=" + test_support::windows_path(path("transcript")));
    auto result = test_support::run({wine.wine(), program.string()}, environment);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(read_text(path("transcript")), kHelloTranscript);
}

// A script that cannot take the user's part ends the run at once with exit
// code 3 and a message naming the step or the dialog, never with a hang.
TEST_F(WindowPrograms, AFailingScriptEndsTheRunNamingWhy) {
    struct Case {
        const char* what;
        const char* program;
        const char* script;
        const char* ending;  // the transcript's last lines
    };
    const Case cases[] = {
        {"message box left up at the end of the script", "hello",
         "select 列表框_名单 0\nclick 按钮_问候\n",
         "msgbox title=\"问候\" icon=information buttons=ok text=\"你好，张三！\"\n"
         "automation-failure \"the message box \\\"你好，张三！\\\" is up, and the script has "
         "ended\"\n"},
        {"message box met by another step", "hello",
         "select 列表框_名单 0\nclick 按钮_删除\nclick 按钮_设置\n",
         "msgbox title=\"删除\" icon=none buttons=yesno text=\"要删除“张三”吗？\"\n"
         "automation-failure \"the message box \\\"要删除“张三”吗？\\\" is up, and the next step "
         "is not an answer: line 3 (click 按钮_设置)\"\n"},
        {"answer with a button the box lacks", "hello",
         "select 列表框_名单 0\nclick 按钮_删除\nanswer ok\n",
         "msgbox title=\"删除\" icon=none buttons=yesno text=\"要删除“张三”吗？\"\n"
         "automation-failure \"the message box \\\"要删除“张三”吗？\\\" is up, and it has no "
         "button ok: line 3 (answer ok)\"\n"},
        {"answer with no box up", "hello", "answer ok\n",
         "automation-failure \"line 1 (answer ok): no message box is up\"\n"},
        {"unit that is not there", "hello", "click 按钮_确定\n",
         "automation-failure \"line 1 (click 按钮_确定): the window 0x52010001 has no unit "
         "按钮_确定\"\n"},
        {"disabled unit", "hello", "click 按钮_添加\n",
         "automation-failure \"line 1 (click 按钮_添加): the unit 按钮_添加 is disabled\"\n"},
        {"row that is not there", "hello", "select 列表框_名单 2\n",
         "automation-failure \"line 1 (select 列表框_名单 2): the list box 列表框_名单 has 2 "
         "rows\"\n"},
        {"typing into a button", "hello", "type 按钮_设置 \"x\"\n",
         "automation-failure \"line 1 (type 按钮_设置 \\\"x\\\"): the unit 按钮_设置 is not an "
         "edit box\"\n"},
        {"another window in front", "hello", "expect-window 52010002\n",
         "automation-failure \"line 1 (expect-window 52010002): the window in front is "
         "0x52010001\"\n"},
        {"window behind a modal one", "hello", "click 按钮_设置\nactivate 52010001\n",
         "automation-failure \"line 2 (activate 52010001): a modal window is in front of the "
         "window 0x52010001\"\n"},
        {"units of the window behind a modal one", "hello", "click 按钮_设置\nclick 按钮_问候\n",
         "automation-failure \"line 2 (click 按钮_问候): the window 0x52010002 has no unit "
         "按钮_问候\"\n"},
        {"text not as expected", "hello", "expect-text 标签_状态 \"共 3 个名字\"\n",
         "automation-failure \"line 1 (expect-text 标签_状态 \\\"共 3 个名字\\\"): the text of "
         "标签_状态 is \\\"共 2 个名字\\\"\"\n"},
        {"not a step", "hello", "\n# fine\nclik 按钮_设置\n",
         "automation-failure \"the script's line 3: unknown step clik\"\n"},
        {"read-only edit box", "properties", "type 编辑框_多行 \"x\"\n",
         "automation-failure \"line 1 (type 编辑框_多行 \\\"x\\\"): the edit box 编辑框_多行 is "
         "read-only\"\n"},
        {"unit in a hidden group", "properties", "click 按钮_隐藏\nclick 单选框2\n",
         "unit-visible 分组框1 0\n"
         "automation-failure \"line 2 (click 单选框2): the unit 分组框1 that holds 单选框2 is "
         "hidden\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome r = run(c.program, c.script);
        EXPECT_EQ(r.exit_code, 3) << r.err;
        const std::string ending = c.ending;
        const size_t lines = static_cast<size_t>(std::count(ending.begin(), ending.end(), '\n'));
        EXPECT_EQ(tail(r.transcript, lines), ending) << r.transcript;
        EXPECT_NE(r.err.find("Automation failure: "), std::string::npos) << r.err;
        EXPECT_EQ(r.transcript.find("\nend "), std::string::npos) << "no regular end";
    }
}

// The settings window's greeting number indexes an array of the SDK: numbers
// outside it end the program with the run-time error of its side.
TEST_F(WindowPrograms, ArrayIndexesOutsideTheArrayAreRunTimeErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "Run-time error 4: an array index is below 1."},
        {"4", "Run-time error 1: an array index is above the element count."},
    };
    for (const auto& [number, message] : cases) {
        SCOPED_TRACE(number);
        Outcome r = run("hello", std::string("click 按钮_设置\ntype 编辑框_编号 \"") + number +
                                     "\"\nclick 按钮_确定\nclose\n");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(tail(r.transcript, 2),
                  "user-click 按钮_确定\nmsgbox title=\"Error\" icon=error buttons=ok text=\"" +
                      std::string(message) + "\"\n");
    }
}

// Every property from the form, written and read back; list box rows, radio
// groups, a window used before it loads and loaded again after a close; the
// content-change event from the program and from typing.
TEST_F(WindowPrograms, PropertiesReadAndWritten) {
    Outcome r = run("properties", "type 编辑框_单行 \"一\\n二\"\n");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.transcript, R"(window-open 0x52010001 "属性"
unit-text 标签_报告 "字体 黑体 12 5"
unit-text 标签_报告 "颜色 255 65535 16777215 15790320"
unit-text 标签_报告 "编辑框 1 1 0 0"
unit-text 标签_报告 "列表 3 乙 1"
unit-text 标签_报告 "单选 1 0 1"
unit-text 标签_报告 "图片 58 66 77 32 58"
unit-text 标签_报告 "位置 10 20 30 40 1 1"
unit-text 标签_报告 "标题 属性 属性"
unit-text 标签_报告 "写入 宋体 20 2 1193046 6636321 0"
list-insert 列表框1 0 "丁"
list-insert 列表框1 4 "戊"
unit-text 标签_报告 "插入 0 4 2"
list-item 列表框1 4 "己"
list-remove 列表框1 2
unit-text 标签_报告 "删除 4 -1 己"
list-select 列表框1 0
unit-checked 单选框1 0
unit-checked 单选框2 1
unit-text 标签_报告 "单选 0 1 1"
unit-text 标签_报告 "图片 3 7 0"
unit-place 标签_报告 11 20 30 40
unit-visible 标签_报告 0
unit-visible 标签_报告 1
window-text 0x52010001 "属性二"
unit-text 编辑框_单行 "甲"
unit-text 标签_报告 "改变 1 甲"
unit-text 标签_报告 "未载入 预设"
window-open 0x52010002 "第二"
unit-text 标签_报告 "载入 改过"
unit-text 标签_报告 "关闭 改过"
window-close 0x52010002 "第二"
window-open 0x52010002 "第二"
unit-text 标签_报告 "重载 预设"
unit-text 标签_报告 "关闭 预设"
window-close 0x52010002 "第二"
user-type 编辑框_单行 "一\n二"
unit-text 编辑框_单行 "一"
unit-text 标签_报告 "改变 2 一"
script-end open=0x52010001
end 0
)");
}

// A program's own faults with its windows end it with a message naming the
// window, unit, property or command.
TEST_F(WindowPrograms, ProgramFaultsNameWhatIsWrong) {
    const std::pair<const char*, const char*> cases[] = {
        {"按钮_未知属性",
         "Unknown property 99 of the unit 按钮_未知属性 (0x16010010) of the "
         "window 0x52010001."},
        {"按钮_未知单元", "The window 0x52010001 has no unit 0x16010020."},
        {"按钮_无此属性",
         "There is no property 14 in the unit 按钮_无此属性 (0x16010012) of "
         "the window 0x52010001."},
        {"按钮_行号越界",
         "There is no row 9 in the unit 列表框1 (0x16010004) of the window "
         "0x52010001 (it has 4)."},
        {"按钮_多余索引",
         "Property 6 of the unit 编辑框_单行 (0x16010003) of the window "
         "0x52010001 takes no index (0)."},
        {"按钮_关闭未载入", "The window 0x52010002 is not loaded; it cannot be closed."},
        {"按钮_错误参数", "Argument 1 of the kernel command 1 is not a text."},
        {"按钮_未知窗口", "The program has no window 0x52010009."},
    };
    for (const auto& [button, message] : cases) {
        SCOPED_TRACE(button);
        // The faults come from a fresh program: its creation already changed
        // the list box and the second window.
        Outcome r = run("properties", std::string("click ") + button + "\n");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(tail(r.transcript, 1), "msgbox title=\"Error\" icon=error buttons=ok text=\"" +
                                             std::string(message) + "\"\n");
    }
}

}  // namespace
