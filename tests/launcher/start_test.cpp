// The start sequence: the version check against the server and its two
// outcomes, the two existence tests, and the desktop shortcut.
#include <unistd.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>

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

// Bytes of a fixed seed: the same noise at every run.
std::string random_bytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

// Every file below `root` but those of the client and the desktop, the
// runtime folders (the temporary folder) and the run's own script and
// transcript, with its size and time: what a launcher run must not touch.
std::map<std::string, std::string> outside(const fs::path& root, const fs::path& client,
                                           const fs::path& desktop) {
    std::map<std::string, std::string> files;
    const auto within = [](const fs::path& path, const fs::path& folder) {
        const std::string p = path.string(), f = folder.string() + "/";
        return p.starts_with(f);
    };
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path& path = it->path();
        if (path == client || path == desktop || path == root / "tmp") {
            it.disable_recursion_pending();
            continue;
        }
        if (path.parent_path() == client.parent_path() &&
            path.filename().string().starts_with(client.filename().string() + "."))
            continue;  // the script and the transcript
        if (within(path, client) || within(path, desktop))
            continue;
        std::string facts = it->is_directory() ? "folder" : std::to_string(it->file_size());
        facts += " " + std::to_string(fs::last_write_time(path).time_since_epoch().count());
        files[path.string()] = facts;
    }
    return files;
}

// Only a byte-equal "1.0" is current: any other text, also a numerically
// equal or a lower one, an empty value, a failed download and whatever a
// server gives that is no version file hand over to the updater, which is
// waited for before the launcher ends. Nothing outside the client and the
// desktop folders is written.
TEST_F(LauncherTest, VersionCheckOpensTheMainWindowOrHandsOver) {
    network_test::BadServer silent(network_test::BadServer::Manner::Silent);
    struct Case {
        const char* what;
        std::optional<std::string> version_file;  // served as it is; none: the address below
        const char* address;                      // when no file is served
        std::optional<std::string> published;     // what the message shows; none: main window
        bool updater = true;                      // "update.exe" is there
    };
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(test_support::free_loopback_port()) + "/v.ini";
    const std::string never_answers = silent.address("v.ini");
    const std::string missing = served("no-such-version.ini");
    // What a proxy or a broken site gives instead of the version file.
    const std::string error_page =
        "<html>\r\n<head><title>502 Bad Gateway</title></head>\r\n<body>\r\n"
        "<center><h1>502 Bad Gateway</h1></center>\r\n</body>\r\n</html>\r\n";
    const std::string long_version(100 << 10, '9');
    const Case cases[] = {
        {"current", "[Update]\r\nvs=1.0\r\n", nullptr, std::nullopt},
        {"numerically equal", "[Update]\r\nvs=1.00\r\n", nullptr, "1.00"},
        {"newer", "[Update]\r\nvs=1.1\r\n", nullptr, "1.1"},
        {"older", "[Update]\r\nvs=0.9\r\n", nullptr, "0.9"},
        {"no vs key", "[Update]\r\nother=1.0\r\n", nullptr, ""},
        {"no server", std::nullopt, refused.c_str(), ""},
        {"a server that never answers", std::nullopt, never_answers.c_str(), ""},
        {"no address", std::nullopt, "", ""},
        // A 404 is a failed download: its page is not written.
        {"a 404 page", std::nullopt, missing.c_str(), ""},
        {"an HTML error page", error_page, nullptr, ""},
        {"random bytes", random_bytes(4096, 1), nullptr, ""},
        {"random bytes after the key", "[Update]\r\nvs=1.0\r\n" + random_bytes(4096, 2), nullptr,
         std::nullopt},
        {"a 100 KB version", "[Update]\r\nvs=" + long_version + "\r\n", nullptr, long_version},
        // Nothing to report: the launcher ends all the same.
        {"no updater", "[Update]\r\nvs=1.1\r\n", nullptr, "1.1", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Settings settings = current_settings();
        if (c.version_file) {
            const std::string name = "version" + std::to_string(++n) + ".ini";
            write_text(site() / name, *c.version_file);
            settings["bb"] = served(name);
        } else {
            settings["bb"] = c.address;
        }
        const fs::path client = make_client(&settings);
        if (!c.updater)
            fs::remove(client / "update.exe");
        const auto before = outside(scratch_->path(), client, desktop());
        Outcome r = run(client, c.published ? "answer ok\n" : "close\n");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(outside(scratch_->path(), client, desktop()), before);
        EXPECT_EQ(test_support::read_text(client / "update.ini"), c.version_file.value_or(""));
        if (!c.published) {
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
            EXPECT_EQ(r.transcript, std::string(kVersionWindow) + hand_off_message(*c.published) +
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

// Settings of any bytes or of values far longer than any real one: the
// launcher ends normally, writes nothing outside the client and desktop
// folders, and takes each value as it is (no key read from noise, a long
// version text handed to the message whole, a long caption set whole, a
// long title giving no shortcut rather than a cut one).
TEST_F(LauncherTest, HostileSettingsAreTakenAsTheyAre) {
    const std::string big(100 << 10, 'x');
    const std::string hand_off = std::string(kVersionWindow) + hand_off_message("") +
                                 "run \"update.exe\" wait=yes\n"
                                 "window-close 0x52010001 \"登陆器版本比较\"\nend 0\n";
    struct Case {
        const char* what;
        std::string wow_ini;  // GBK bytes as they are
        std::string script;
        std::string transcript;  // a part the transcript holds
        std::vector<std::string> desktop;
    };
    const Case cases[] = {
        {"random bytes", random_bytes(4096, 3), "answer ok\n", hand_off, {".lnk"}},
        {"random bytes, another seed", random_bytes(65536, 4), "answer ok\n", hand_off, {".lnk"}},
        {"a 100 KB title",
         "[Main]\r\nTitle=" + big + "\r\n[v]\r\nbb=" + served("1.0.ini") + "\r\n",
         "close\n",
         "window-text 0x52010002 \"" + big + "\"\n",
         {}},
        {"100 KB realm names",
         "[Main]\r\nTitle=t\r\n[v]\r\nbb=" + served("1.0.ini") +
             "\r\n[Server]\r\nServerName1=" + big + "\r\nServerName2=" + big + "\r\n",
         "close\n",
         "unit-text 单选框2 \"" + big + "\"\n",
         {"t.lnk"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(desktop());
        fs::create_directories(desktop());
        const fs::path client = make_client(nullptr);
        write_text(client / "wow.ini", c.wow_ini);
        const auto before = outside(scratch_->path(), client, desktop());
        Outcome r = run(client, c.script);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(contains(r.transcript, c.transcript)) << r.transcript.substr(0, 2000);
        EXPECT_EQ(outside(scratch_->path(), client, desktop()), before);
        std::vector<std::string> shortcuts;
        for (const auto& entry : fs::directory_iterator(desktop()))
            shortcuts.push_back(entry.path().filename().string());
        EXPECT_EQ(shortcuts, c.desktop);
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

// What the shortcut holds, read back with lnkinfo: the launcher's own file
// as target (named "launcher" on Linux),
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
    EXPECT_TRUE(contains(info.out, "\tRelative path\t\t\t: " + folder + "\\launcher\n"))
        << info.out;
    EXPECT_TRUE(contains(info.out, "\tDescription\t\t\t: 星河\r\n星河\n")) << info.out;
    EXPECT_TRUE(contains(info.out, "\tWorking directory\t\t: " + folder + "\\\n")) << info.out;
}

}  // namespace
}  // namespace launcher_test
