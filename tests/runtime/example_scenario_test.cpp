// Programs with windows, driven by scripts, through the whole chain: the real
// stub, a runtime package holding the real kernel library, and the image of
// the example application (examples/hello) or of the property program
// (programs/properties.*), on Linux and, the same image, under wine64. Each
// run is judged by its transcript and exit code; on real windows also by
// pictures of its windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/picture.h"
#include "tests/support/scenario.h"

namespace {

namespace fs = std::filesystem;
using test_support::ScenarioResult;
using test_support::System;

// The example application, used as a person would: greet, add a name, change
// the settings in the modal window, greet again, remove a name, open the
// settings and close them unchanged, close the main window. The pictures
// are taken on real windows only.
const char* const kHelloScript = R"(# the example application, start to end
expect-window 52010001
capture "hello-main.png"
select 列表框_名单 1
click 按钮_问候
answer ok
type 编辑框_名字 "王五"
click 按钮_添加
click 按钮_设置
expect-window 52010002
capture "hello-settings.png"
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

class ExampleApplication : public test_support::ScenarioTest {};

// Without windows and on real controls alike: the same transcript; on real
// windows its two windows at their outer sizes.
TEST_P(ExampleApplication, FollowsItsScript) {
    ScenarioResult r = run(program("hello"), {.script = kHelloScript});
    // Under the sanitizers a block the program kept ends the run with a
    // report and another exit code.
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.transcript, kHelloTranscript);
    if (system() != System::win_x64_windows)
        return;
    const std::pair<const char*, std::pair<int, int>> windows[] = {
        {"hello-main.png", {360, 260}}, {"hello-settings.png", {280, 190}}};
    for (const auto& [file, size] : windows) {
        SCOPED_TRACE(file);
        const test_support::Picture picture = test_support::read_png(scenario().pictures() / file);
        EXPECT_EQ(picture.width, size.first);
        EXPECT_EQ(picture.height, size.second);
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, ExampleApplication,
                         ::testing::Values(System::linux_x64, System::win_x64,
                                           System::win_x64_windows),
                         test_support::system_test_name);

class WindowPrograms : public test_support::ScenarioTest {
  protected:
    ScenarioResult run(const std::string& program, const std::string& script) {
        return ScenarioTest::run(this->program(program), {.script = script});
    }
};

// The SDK's handles reach the units they name with the operation they say,
// and the start routine opens the start window the description names
// (52010002, with a window 52010001 there that must stay closed).
TEST_P(WindowPrograms, TypedHandlesAndTheNamedStartWindow) {
    ScenarioResult r = run("handles", "");
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

// Drawing boards made at run time: a copy inside its board (its place counts
// from the board's corner, and hiding the board hides it), text drawn on it,
// a gradient through its handle, and texts measured as character cells; and
// a picture button's faces by state swapped at run time.
TEST_P(WindowPrograms, DrawingBoardsCopiedAndDrawnOn) {
    ScenarioResult r = run("boards", "click 按钮_隐藏\nclick \"画板1#1\"\n");
    EXPECT_EQ(r.exit_code, 3) << r.err;
    EXPECT_EQ(r.transcript, R"(window-open 0x52010001 "画板"
unit-copy 画板1 画板1#1
unit-place 画板1#1 1 6 100 20
unit-place 画板1#1 1 1 100 20
unit-place 画板1#1 1 1 98 20
unit-place 画板1#1 1 1 98 18
unit-drawn-text 画板1#1 3 2 #FF0000 "五十"
unit-gradient 画板1#1 0 0 49 9 vertical #E7F3E8 #E1DBE1
unit-copy 画板1 画板1#2
unit-text 标签_报告 "报告 1 1 1 98 5 6 18 12 48 24"
user-click 按钮_隐藏
unit-text 标签_外观 "外观 58 58 58 0 0"
unit-visible 画板1 0
automation-failure "line 2 (click \"画板1#1\"): the unit 画板1 that holds 画板1#1 is hidden"
)");
}

// A script that cannot take the user's part ends the run at once with exit
// code 3 and a message naming the step or the dialog, never with a hang.
TEST_P(WindowPrograms, AFailingScriptEndsTheRunNamingWhy) {
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
        ScenarioResult r = run(c.program, c.script);
        EXPECT_EQ(r.exit_code, 3) << r.err;
        const std::string ending = c.ending;
        const size_t lines = static_cast<size_t>(std::count(ending.begin(), ending.end(), '\n'));
        EXPECT_EQ(r.tail(lines), ending) << r.transcript;
        EXPECT_NE(r.err.find("Automation failure: "), std::string::npos) << r.err;
        EXPECT_EQ(r.transcript.find("\nend "), std::string::npos) << "no regular end";
    }
}

// The settings window's greeting number indexes an array of the SDK: numbers
// outside it end the program with the run-time error of its side.
TEST_P(WindowPrograms, ArrayIndexesOutsideTheArrayAreRunTimeErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "Run-time error 4: an array index is below 1."},
        {"4", "Run-time error 1: an array index is above the element count."},
    };
    for (const auto& [number, message] : cases) {
        SCOPED_TRACE(number);
        ScenarioResult r = run("hello", std::string("click 按钮_设置\ntype 编辑框_编号 \"") +
                                            number + "\"\nclick 按钮_确定\nclose\n");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.tail(2),
                  "user-click 按钮_确定\nmsgbox title=\"Error\" icon=error buttons=ok text=\"" +
                      std::string(message) + "\"\n");
    }
}

// Every property from the form, written and read back; list box rows, radio
// groups, a window used before it loads and loaded again after a close; the
// content-change event from the program and from typing.
TEST_P(WindowPrograms, PropertiesReadAndWritten) {
    ScenarioResult r = run("properties", "type 编辑框_单行 \"一\\n二\"\n");
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
TEST_P(WindowPrograms, ProgramFaultsNameWhatIsWrong) {
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
        ScenarioResult r = run("properties", std::string("click ") + button + "\n");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.tail(1), "msgbox title=\"Error\" icon=error buttons=ok text=\"" +
                                 std::string(message) + "\"\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, WindowPrograms, test_support::both_systems(),
                         test_support::system_test_name);

}  // namespace
