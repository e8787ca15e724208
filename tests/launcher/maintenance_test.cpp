// The tools window's clean-ups on a client folder with something in every
// place they clear, and the main window's pages and link labels.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "tests/launcher/launcher_fixture.h"

namespace launcher_test {
namespace {

// Every file of the fixture client that a clean-up may take.
const char* const kClientFiles[] = {
    "Interface/AddOns/Bags/Bags.lua",
    "Interface/FrameXML/Frame.xml",
    "Errors/crash.txt",
    "Logs/chat.txt",
    "WDB/items.wdb",
    "WTF/Config.wtf",
    "Fonts/frizqt.ttf",
};

// The fixture client: a file in each place, and inside "Interface" a link to
// a folder outside the client, which no clean-up may reach through.
fs::path fill_client(const fs::path& client, const fs::path& outside) {
    for (const char* name : kClientFiles)
        write_text(client / name, name);
    write_text(outside / "keep.txt", "mine");
    fs::create_directory_symlink(outside, client / "Interface" / "outside");
    return client;
}

std::string present(const fs::path& client) {
    std::string out;
    for (const char* name : kClientFiles)
        if (fs::exists(client / name))
            out += std::string(name) + " ";
    return out;
}

TEST_F(LauncherTest, CleanUps) {
    struct Case {
        const char* what;
        std::string steps;    // after the tools window is open
        const char* message;  // null: none
        std::string left;
    };
    const std::string all =
        "Interface/AddOns/Bags/Bags.lua Interface/FrameXML/Frame.xml Errors/crash.txt "
        "Logs/chat.txt WDB/items.wdb WTF/Config.wtf Fonts/frizqt.ttf ";
    const Case cases[] = {
        {"清理插件", "click 按钮1\nanswer ok\n", "清除完毕",
         "Errors/crash.txt Logs/chat.txt WDB/items.wdb WTF/Config.wtf Fonts/frizqt.ttf "},
        {"清除错误日志 twice", "click 按钮2\nclick 按钮2\n", nullptr,
         "Interface/AddOns/Bags/Bags.lua Interface/FrameXML/Frame.xml WDB/items.wdb "
         "WTF/Config.wtf Fonts/frizqt.ttf "},
        {"清除缓存", "click 按钮3\n", nullptr,
         "Interface/AddOns/Bags/Bags.lua Interface/FrameXML/Frame.xml Errors/crash.txt "
         "Logs/chat.txt Fonts/frizqt.ttf "},
        {"重置到官方", "click 按钮4\n", nullptr, "Interface/FrameXML/Frame.xml Fonts/frizqt.ttf "},
        {"清理字体", "click 按钮5\nanswer ok\n", "清除完毕",
         "Interface/AddOns/Bags/Bags.lua Interface/FrameXML/Frame.xml Errors/crash.txt "
         "Logs/chat.txt WDB/items.wdb WTF/Config.wtf "},
        // A folder that is not there counts as cleared.
        {"清理插件 twice", "click 按钮1\nanswer ok\nclick 按钮1\nanswer ok\n", "清除完毕",
         "Errors/crash.txt Logs/chat.txt WDB/items.wdb WTF/Config.wtf Fonts/frizqt.ttf "},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Settings settings = current_settings();
        const fs::path client = make_client(&settings);
        const fs::path outside = client.parent_path() / ("outside" + std::to_string(++n));
        fill_client(client, outside);
        ASSERT_EQ(present(client), all);
        Outcome r = run(client, "click 按钮3\n" + c.steps);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(present(client), c.left);
        EXPECT_EQ(test_support::read_text(outside / "keep.txt"), "mine");
        const std::string line = c.message != nullptr ? std::string(
                                                            "msgbox title=\"提示\" icon=none "
                                                            "buttons=ok text=\"") +
                                                            c.message + "\" answer=ok"
                                                      : "msgbox ";
        EXPECT_EQ(contains(r.transcript, line), c.message != nullptr) << r.transcript;
    }
}

// A font in use (here: a file the system will not let go) makes "清理字体"
// report its failure; what could go is gone.
TEST_F(LauncherTest, FontsThatStayReportAFailure) {
    const Settings settings = current_settings();
    const fs::path client = make_client(&settings);
    write_text(client / "Fonts" / "a.ttf", "a");
    write_text(client / "Fonts" / "z.ttf", "z");
    const std::string held = (client / "Fonts" / "z.ttf").string();
    if (std::system(("chattr +i '" + held + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no immutable files here";
    Outcome r = run(client, "click 按钮3\nclick 按钮5\nanswer ok\n");
    std::system(("chattr -i '" + held + "'").c_str());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(contains(r.transcript,
                         "msgbox title=\"提示\" icon=none buttons=ok text=\"清除失败\" answer=ok"))
        << r.transcript;
    EXPECT_TRUE(fs::exists(client / "Fonts" / "z.ttf"));
}

size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The news page, the page buttons through the shell, the edition window,
// the credit label (no browser at its fixed path here: the default browser
// instead), the weather window modal over the tools window, and one tools
// window however often "安全清理" is clicked.
TEST_F(LauncherTest, PagesAndWindows) {
    const Settings settings = current_settings();
    const fs::path client = make_client(&settings);
    Outcome r = run(client,
                    "expect-text 超文本浏览框1 \"http://home.example/news\"\n"
                    "expect-text 单选框1 \"一区\"\n"
                    "expect-text 单选框2 \"二区\"\n"
                    "click 按钮2\n"
                    "click 按钮1\n"
                    "click 透明标签8\n"
                    "expect-window 52010005\n"
                    "activate 52010002\n"
                    "click 透明标签5\n"
                    "click 按钮3\n"
                    "click 按钮6\n"
                    "expect-window 52010004\n"
                    "expect-text 超文本浏览框1 "
                    "\"http://weather.example.com/tb.q?cid=1&city=%C9%CF%BA%A3\"\n"
                    "click 按钮1\n"
                    "expect-window 52010003\n"
                    "activate 52010002\n"
                    "click 按钮3\n"
                    "expect-window 52010003\n");
    EXPECT_EQ(r.exit_code, 0) << r.err << r.transcript;
    EXPECT_TRUE(contains(r.transcript,
                         "user-click 按钮2\nopen-address \"http://home.example/\"\n"
                         "user-click 按钮1\nopen-address \"http://home.example/reg\"\n"
                         "user-click 透明标签8\nwindow-open 0x52010005 \"商业版与免费版比较\"\n"))
        << r.transcript;
    EXPECT_TRUE(contains(r.transcript, "open-address \"http://www.example.com/\"\n"))
        << r.transcript;
    EXPECT_TRUE(contains(r.transcript,
                         "user-click 按钮6\nwindow-open 0x52010004 \"\"\n"
                         "user-click 按钮1\nwindow-close 0x52010004 \"\"\n"))
        << r.transcript;
    EXPECT_EQ(count_of(r.transcript, "window-open 0x52010003"), 1u) << r.transcript;
}

TEST_F(LauncherTest, EmptyTitleGivesAnEmptyCaption) {
    Settings settings = current_settings();
    settings["Title"] = "";
    const fs::path client = make_client(&settings);
    Outcome r = run(client, "close\n");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(contains(r.transcript, "window-open 0x52010002 \"\"\n")) << r.transcript;
}

}  // namespace
}  // namespace launcher_test
