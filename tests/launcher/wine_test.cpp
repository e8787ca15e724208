// The main road on win-x64 under wine64 with real windows: the shortcut
// written by the system's shell, the version check against nginx, a realm,
// the tools, weather and edition windows, the game start; pictures of the
// windows on the way (kept in build/linux-x64/launcher-pictures for the
// notes). The stand-ins for the client and the updater are a small Windows
// program built here that records its start.
#include <unistd.h>

#include <cstdlib>

#include "base/encoding.h"
#include "tests/launcher/launcher_fixture.h"
#include "tests/support/picture.h"
#include "tests/support/wine_session.h"

namespace launcher_test {
namespace {

const fs::path kWinX64 = WIN_X64_DIR;

const char kRecorderSource[] = R"(#include <windows.h>
#include <stdio.h>
#include <string.h>
int main(void) {
    char self[MAX_PATH], folder[MAX_PATH], log[MAX_PATH + 16];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    GetCurrentDirectoryA(MAX_PATH, folder);
    strcpy(log, self);
    strcpy(strrchr(log, '\\') + 1, "started.log");
    FILE* out = fopen(log, "a");
    if (out) {
        fprintf(out, "%s|%s\n", strrchr(self, '\\') + 1, folder);
        fclose(out);
    }
    return 0;
}
)";

TEST_F(LauncherTest, MainRoadOnRealWindowsUnderWine) {
    auto& wine = test_support::WineSession::ensure();
    if (wine.state() == test_support::WineSession::State::NotInstalled)
        GTEST_SKIP() << wine.message();
    if (!fs::exists(kWinX64 / "launcher" / "launcher.exe"))
        GTEST_SKIP() << "the win-x64 launcher is not built";
    if (std::system("command -v x86_64-w64-mingw32-gcc >/dev/null") != 0)
        GTEST_SKIP() << "no compiler for the Windows stand-ins";
    ASSERT_EQ(wine.state(), test_support::WineSession::State::Running) << wine.message();

    Settings settings = current_settings();
    const std::string title = "星河" + std::to_string(getpid());
    settings["Title"] = title;
    const fs::path client = make_client(&settings, false, {"Data/zhCN"});
    fs::remove(client / "launcher");
    fs::remove(client / "update.exe");
    fs::copy_file(kWinX64 / "launcher" / "launcher.exe", client / "launcher.exe");
    write_text(client.parent_path() / "recorder.c", kRecorderSource);
    ASSERT_EQ(std::system(("x86_64-w64-mingw32-gcc -O1 -o '" + (client / "wow.exe").string() +
                           "' '" + (client.parent_path() / "recorder.c").string() + "'")
                              .c_str()),
              0);

    const fs::path pictures = fs::path(NATIVE_BUILD_DIR) / "launcher-pictures";
    fs::create_directories(pictures);
    const fs::path script = client.parent_path() / "wine.script";
    const fs::path transcript = client.parent_path() / "wine.transcript";
    write_text(script,
               "capture \"launcher-main.png\"\n"
               "click 单选框1\nanswer ok\n"
               "click 按钮3\ncapture \"launcher-tools.png\"\n"
               "click 按钮6\ncapture \"launcher-weather.png\"\nclick 按钮1\n"
               "activate 52010002\nclick 透明标签8\ncapture \"launcher-edition.png\"\nclose\n"
               "activate 52010002\nclick 按钮4\n");
    std::vector<std::string> environment;
    for (const std::string& entry : wine.environment())
        if (!entry.starts_with("WJRT_UI="))
            environment.push_back(entry);
    environment.push_back("WJRT_UI=win32");
    environment.push_back("WJRT_SCRIPT=" + test_support::windows_path(script));
    environment.push_back("WJRT_TRANSCRIPT=" + test_support::windows_path(transcript));
    environment.push_back("WJRT_CAPTURE_DIR=" + test_support::windows_path(pictures));
    auto result =
        test_support::run({wine.wine(), (client / "launcher.exe").string()}, environment, 180);
    const std::string shown = test_support::read_text(transcript);
    EXPECT_EQ(result.exit_code, 0) << result.err << shown;
    EXPECT_TRUE(contains(shown, "window-text 0x52010002 \"" + title + "\"\n")) << shown;
    EXPECT_TRUE(contains(shown, "window-icon 0x52010002 48x48@32 32x32@32 16x16@32\n")) << shown;
    EXPECT_TRUE(contains(shown, "window-open 0x52010004 \"\"\n")) << shown;
    EXPECT_TRUE(contains(shown, "window-open 0x52010005 \"商业版与免费版比较\"\n")) << shown;
    EXPECT_TRUE(contains(shown, "window-close 0x52010002")) << shown;
    EXPECT_TRUE(contains(shown, "script-end open=0x52010003\nend 0\n")) << shown;
    EXPECT_EQ(test_support::read_text(client / "realmlist.wtf"), "SET realmlist \"127.0.0.1\"");
    EXPECT_EQ(test_support::read_text(client / "Data" / "zhCN" / "realmlist.wtf"),
              "SET realmlist \"127.0.0.1\"");
    EXPECT_FALSE(fs::exists(client / "Data" / "enUS"));
    for (int i = 0; i < 100 && started(client).empty(); ++i)
        usleep(50000);
    EXPECT_TRUE(started(client).starts_with("wow.exe|")) << started(client);

    // The windows at their outer sizes.
    struct Shot {
        const char* name;
        int width, height;
    };
    for (const Shot& shot :
         {Shot{"launcher-main.png", 322, 329}, Shot{"launcher-tools.png", 270, 177},
          Shot{"launcher-weather.png", 263, 199}, Shot{"launcher-edition.png", 481, 414}}) {
        const test_support::Picture picture = test_support::read_png(pictures / shot.name);
        EXPECT_EQ(std::make_pair(picture.width, picture.height),
                  std::make_pair(shot.width, shot.height))
            << shot.name;
    }

    // The shortcut, where the system's shell put it.
    std::string prefix;
    for (const std::string& entry : wine.environment())
        if (entry.starts_with("WINEPREFIX="))
            prefix = entry.substr(11);
    fs::path shortcut;
    for (const auto& user : fs::directory_iterator(fs::path(prefix) / "drive_c" / "users")) {
        const fs::path candidate = user.path() / "Desktop" / u8path(title + ".lnk");
        if (fs::exists(candidate))
            shortcut = candidate;
    }
    ASSERT_FALSE(shortcut.empty()) << "no shortcut on the desktop";
    if (fs::exists("/usr/bin/lnkinfo")) {
        auto info = test_support::run({"/usr/bin/lnkinfo", shortcut.string()}, {});
        const std::string folder = test_support::windows_path(client);
        EXPECT_TRUE(contains(info.out, "\tDescription\t\t\t: " + title + "\r\n" + title + "\n"))
            << info.out;
        EXPECT_TRUE(contains(info.out, folder + "\\launcher.exe")) << info.out;
        EXPECT_TRUE(contains(info.out, "\tWorking directory\t\t: " + folder + "\\\n")) << info.out;
    }
    fs::remove(shortcut);

    // Without wow.ini the version check window stays after its message.
    const fs::path bare = make_client(nullptr, false);
    fs::remove(bare / "launcher");
    fs::copy_file(kWinX64 / "launcher" / "launcher.exe", bare / "launcher.exe");
    write_text(script, "answer ok\ncapture \"launcher-version.png\"\nclose\n");
    fs::remove(transcript);
    result = test_support::run({wine.wine(), (bare / "launcher.exe").string()}, environment, 180);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(test_support::read_text(transcript),
              "window-open 0x52010001 \"登陆器版本比较\"\n"
              "msgbox title=\"错误提示\" icon=error buttons=ok "
              "text=\"登录器缺少wow.ini文件，无法运行!肯定被你删除了！\" answer=ok\n"
              "user-close 0x52010001\nwindow-close 0x52010001 \"登陆器版本比较\"\nend 0\n");
    const test_support::Picture version = test_support::read_png(pictures / "launcher-version.png");
    EXPECT_EQ(std::make_pair(version.width, version.height), std::make_pair(380, 137));

    // A published version that differs: "update.exe" found by the system
    // beside the launcher from its bare name, and waited for.
    Settings newer = current_settings();
    newer["bb"] = served("newer.ini");
    write_text(site() / "newer.ini", "[Update]\r\nvs=1.1\r\n");
    const fs::path handing = make_client(&newer, false);
    fs::remove(handing / "launcher");
    fs::remove(handing / "update.exe");
    fs::copy_file(kWinX64 / "launcher" / "launcher.exe", handing / "launcher.exe");
    fs::copy_file(client / "wow.exe", handing / "wow.exe");
    fs::copy_file(client / "wow.exe", handing / "update.exe");
    write_text(script, "answer ok\n");
    fs::remove(transcript);
    result =
        test_support::run({wine.wine(), (handing / "launcher.exe").string()}, environment, 180);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(contains(test_support::read_text(transcript),
                         "登陆器已更新[1.1]\\r\\n自动运行update.exe\\r\\n进行更新!\" answer=ok\n"
                         "run \"update.exe\" wait=yes\n"
                         "window-close 0x52010001 \"登陆器版本比较\"\nend 0\n"))
        << test_support::read_text(transcript);
    EXPECT_TRUE(started(handing).starts_with("update.exe|")) << started(handing);
}

}  // namespace
}  // namespace launcher_test
