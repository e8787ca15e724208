// The start sequence: the version check against the server and its two
// outcomes, the two existence tests, and the desktop shortcut.
#include <unistd.h>

#include <algorithm>

#include "base/encoding.h"
#include "tests/launcher/launcher_fixture.h"
#include "tests/services/network/web_fixture.h"

namespace launcher_test {
namespace {

const char kVersionWindow[] = "window-open 0x52010001 \"登陆器版本比较\"\n";
// The main window opens, then its creation sets its caption.
const char kMainWindow[] = "window-open 0x52010002 \"\"\nwindow-text 0x52010002 \"星河\"\n";

std::string hand_off_message(const std::string& published) {
    return "msgbox title=\"登陆器版本比较\" icon=none buttons=ok text=\"登陆器已更新[" + published +
           "]\\r\\n自动运行update.exe\\r\\n进行更新!\" answer=ok\n";
}

// Only a byte-equal "1.0" is current: any other text, also a numerically
// equal or a lower one, an empty value and a failed download hand over to
// the updater, which is waited for before the launcher ends.
TEST_F(LauncherTest, VersionCheckOpensTheMainWindowOrHandsOver) {
    network_test::BadServer silent(network_test::BadServer::Manner::Silent);
    struct Case {
        const char* what;
        const char* version_file;  // served as it is; null: the address is given below
        const char* address;       // when no file is served
        const char* published;     // what the message shows; null: the main window opens
        bool updater = true;       // "update.exe" is there
    };
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(test_support::free_loopback_port()) + "/v.ini";
    const std::string never_answers = silent.address("v.ini");
    const Case cases[] = {
        {"current", "[Update]\r\nvs=1.0\r\n", nullptr, nullptr},
        {"numerically equal", "[Update]\r\nvs=1.00\r\n", nullptr, "1.00"},
        {"newer", "[Update]\r\nvs=1.1\r\n", nullptr, "1.1"},
        {"older", "[Update]\r\nvs=0.9\r\n", nullptr, "0.9"},
        {"no vs key", "[Update]\r\nother=1.0\r\n", nullptr, ""},
        {"no server", nullptr, refused.c_str(), ""},
        {"a server that never answers", nullptr, never_answers.c_str(), ""},
        {"no address", nullptr, "", ""},
        // Nothing to report: the launcher ends all the same.
        {"no updater", "[Update]\r\nvs=1.1\r\n", nullptr, "1.1", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Settings settings = current_settings();
        if (c.version_file != nullptr) {
            const std::string name = "version" + std::to_string(++n) + ".ini";
            write_text(site() / name, c.version_file);
            settings["bb"] = served(name);
        } else {
            settings["bb"] = c.address;
        }
        const fs::path client = make_client(&settings);
        if (!c.updater)
            fs::remove(client / "update.exe");
        Outcome r = run(client, c.published == nullptr ? "close\n" : "answer ok\n");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(test_support::read_text(client / "update.ini"),
                  c.version_file != nullptr ? c.version_file : "");
        if (c.published == nullptr) {
            EXPECT_TRUE(contains(r.transcript, std::string(kVersionWindow) + kMainWindow))
                << r.transcript;
            // The program icon in its three sizes.
            EXPECT_TRUE(
                contains(r.transcript, "window-icon 0x52010002 48x48@32 32x32@32 16x16@32\n"))
                << r.transcript;
            EXPECT_TRUE(contains(r.transcript, "window-close 0x52010001 \"登陆器版本比较\"\n"))
                << r.transcript;
            EXPECT_EQ(test_support::read_text(client / "launcher.ini"),
                      test_support::read_text(site() / "launcher.ini"));
            EXPECT_EQ(started(client), "");
        } else {
            EXPECT_EQ(r.transcript, std::string(kVersionWindow) + hand_off_message(c.published) +
                                        "run \"update.exe\" wait=yes\n"
                                        "window-close 0x52010001 \"登陆器版本比较\"\n"
                                        "end 0\n");
            EXPECT_FALSE(fs::exists(client / "launcher.ini"));
            // Started bare, from the launcher's current folder, and waited for.
            EXPECT_EQ(started(client), c.updater ? "update.exe||" + client.parent_path().string() +
                                                       "\nupdate.exe ended\n"
                                                 : "");
        }
    }
}

// Without wow.ini the sequence stops at its message and the window stays
// until the player closes it; without the client the launcher ends at once.
// Nothing is downloaded in either case, and the shortcut comes first.
TEST_F(LauncherTest, MissingSettingsOrClientStopTheStart) {
    const std::string settings_missing =
        "msgbox title=\"错误提示\" icon=error buttons=ok "
        "text=\"登录器缺少wow.ini文件，无法运行!肯定被你删除了！\" answer=ok\n";
    const std::string client_missing =
        "msgbox title=\"错误\" icon=error buttons=ok "
        "text=\"请把本程序放在星河纪元客户端目录运行\" answer=ok\n";
    struct Case {
        const char* what;
        bool settings;
        bool client;
        std::string script;
        std::string transcript;
        const char* shortcut;
    };
    const Case cases[] = {
        {"wow.ini missing", false, true, "answer ok\nclose\n",
         std::string(kVersionWindow) + settings_missing +
             "user-close 0x52010001\nwindow-close 0x52010001 \"登陆器版本比较\"\nend 0\n",
         ".lnk"},
        {"both missing", false, false, "answer ok\nclose\n",
         std::string(kVersionWindow) + settings_missing +
             "user-close 0x52010001\nwindow-close 0x52010001 \"登陆器版本比较\"\nend 0\n",
         ".lnk"},
        {"wow.exe missing", true, false, "answer ok\n",
         std::string(kVersionWindow) + client_missing + "end 0\n", "星河.lnk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(desktop());
        fs::create_directories(desktop());
        const Settings settings = current_settings();
        const fs::path client = make_client(c.settings ? &settings : nullptr, c.client);
        Outcome r = run(client, c.script);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.transcript, c.transcript);
        EXPECT_FALSE(fs::exists(client / "update.ini"));
        EXPECT_TRUE(fs::exists(desktop() / u8path(c.shortcut)));
        EXPECT_EQ(started(client), "");
    }
}

// The shortcut's name comes from the title; whatever the title holds, the
// file lands in the desktop folder itself, and a second start replaces it.
// (The name's rules byte by byte: shortcut_name_test.cpp.)
TEST_F(LauncherTest, ShortcutNameStaysInTheDesktopFolder) {
    struct Case {
        std::string title;  // GBK
        std::string name;   // GBK
    };
    const Case cases[] = {
        {gbk("星河"), gbk("星河.lnk")},
        {"", ".lnk"},
        {"..\\..\\evil", ".._.._evil.lnk"},
        {"../up", ".._up.lnk"},
        {"a:b*c?d\"e<f>g|h", "a_b_c_d_e_f_g_h.lnk"},
        {"tab\there", "tab_here.lnk"},
        {"nul", "_nul.lnk"},
        // GBK characters whose second byte is '\' or '|' stay whole.
        {"\x81\x5C\x81\x7C", "\x81\x5C\x81\x7C.lnk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(desktop());
        fs::create_directories(desktop());
        Settings settings = current_settings();
        const fs::path client = make_client(nullptr, false);
        // The title's bytes as they are: written after the GBK conversion.
        write_settings(client, settings);
        std::string ini = test_support::read_text(client / "wow.ini");
        const std::string title_line = "Title=" + gbk("星河");
        ini.replace(ini.find(title_line), title_line.size(), "Title=" + c.title);
        write_text(client / "wow.ini", ini);
        for (int start = 0; start < 2; ++start) {
            Outcome r = run(client, "answer ok\n");
            EXPECT_EQ(r.exit_code, 0) << r.err;
        }
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(scratch_->path()))
            if (entry.path().filename().string().ends_with(".lnk"))
                names.push_back(fs::relative(entry.path(), scratch_->path()).string());
        // Names on Linux are UTF-8.
        EXPECT_EQ(names,
                  std::vector<std::string>{"home/Desktop/" + base::gbk_to_utf8(c.name).value()});
    }
}

// What the shortcut holds, read back with lnkinfo: the launcher as target,
// the title twice as comment, the client folder as working folder.
TEST_F(LauncherTest, ShortcutReadBack) {
    if (!fs::exists("/usr/bin/lnkinfo"))
        GTEST_SKIP() << "lnkinfo is not installed";
    fs::remove_all(desktop());
    fs::create_directories(desktop());
    const Settings settings = current_settings();
    const fs::path client = make_client(&settings, false);
    Outcome r = run(client, "answer ok\n");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    auto info =
        test_support::run({"/usr/bin/lnkinfo", (desktop() / u8path("星河.lnk")).string()}, {});
    // A path without a drive is a relative one to the shortcut format; the
    // runtime gives Linux paths with backslashes.
    std::string folder = client.string();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    EXPECT_TRUE(contains(info.out, "\tRelative path\t\t\t: " + folder + "\\launcher.exe\n"))
        << info.out;
    EXPECT_TRUE(contains(info.out, "\tDescription\t\t\t: 星河\r\n星河\n")) << info.out;
    EXPECT_TRUE(contains(info.out, "\tWorking directory\t\t: " + folder + "\\\n")) << info.out;
}

}  // namespace
}  // namespace launcher_test
