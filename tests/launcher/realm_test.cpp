// Realms: the realm list files written at a click (their content, their
// order of reading the address, the locale folders that are there), the
// enable keys, the game start, and the latency classes against echo answers
// that a test host in a network namespace of the test's own gives.
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "tests/launcher/launcher_fixture.h"
#include "tests/support/network_namespace.h"

namespace launcher_test {
namespace {

const std::vector<std::string> kAllLocales = {"Data/zhTW", "Data/enTW", "Data/zhCN", "Data/enCN",
                                              "Data/enUS"};
const char* const kRealmLists[] = {
    "realmlist.wtf",           "Data/zhTW/realmlist.wtf", "Data/enTW/realmlist.wtf",
    "Data/zhCN/realmlist.wtf", "Data/enCN/realmlist.wtf", "Data/enUS/realmlist.wtf",
};
const char kConfirm[] =
    "msgbox title=\"登陆器版本比较\" icon=none buttons=ok text=\"已选中区域，请点下方进入游戏!\" "
    "answer=ok\n";
const char kNoRealmList[] =
    "msgbox title=\"错误提示\" icon=error buttons=ok "
    "text=\"您的客户端没realmlist.wtf文件，无法运行!\" answer=ok\n";

// The six files' contents in their order; "-" for a file that is not there.
std::vector<std::string> realm_lists(const fs::path& client) {
    std::vector<std::string> out;
    for (const char* name : kRealmLists)
        out.push_back(fs::exists(client / name) ? test_support::read_text(client / name) : "-");
    return out;
}

const std::string kLongAddress(100 << 10, 'x');

std::vector<std::string> every(const std::string& content) {
    return std::vector<std::string>(6, content);
}

// Clicks write every realm list file whose folder is there, with exactly the
// address between quotes and nothing after it; no folder is made.
TEST_F(LauncherTest, RealmClicksWriteTheRealmLists) {
    struct Case {
        const char* what;
        Settings changes;
        std::vector<std::string> folders;
        std::string script;
        std::vector<std::string> lists;
        const char* status;
    };
    const std::string realm1 = "click 单选框1\nanswer ok\n";
    const std::string realm2 = "click 单选框2\nanswer ok\n";
    const Case cases[] = {
        {"realm 1", {}, kAllLocales, realm1, every("SET realmlist \"127.0.0.1\""), "畅通"},
        {"realm 1 then realm 2",
         {},
         kAllLocales,
         realm1 + realm2,
         every("SET realmlist \"localhost\""),
         "畅通"},
        {"realm 1 twice",
         {},
         kAllLocales,
         realm1 + realm1,
         every("SET realmlist \"127.0.0.1\""),
         "畅通"},
        {"only Data\\zhCN",
         {},
         {"Data/zhCN"},
         realm1,
         {"SET realmlist \"127.0.0.1\"", "-", "-", "SET realmlist \"127.0.0.1\"", "-", "-"},
         "畅通"},
        {"no Data folder",
         {},
         {},
         realm1,
         {"SET realmlist \"127.0.0.1\"", "-", "-", "-", "-", "-"},
         "畅通"},
        // A name no resolver takes (a label of 100 KB): nothing leaves the
        // host, and the address is written whole all the same.
        {"a 100 KB address",
         {{"ServerD1", kLongAddress}},
         kAllLocales,
         realm1,
         every("SET realmlist \"" + kLongAddress + "\""),
         "维护"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Settings settings = current_settings();
        for (const auto& [key, value] : c.changes)
            settings[key] = value;
        const fs::path client = make_client(&settings, true, c.folders);
        Outcome r = run(client, c.script);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(contains(
            r.transcript, std::string("user-click 单选框1\nunit-checked 单选框1 1\n") + kConfirm))
            << r.transcript;
        EXPECT_TRUE(contains(r.transcript, std::string("unit-text 透明标签7 \"") + c.status + "\""))
            << r.transcript;
        EXPECT_EQ(realm_lists(client), c.lists);
        for (const char* locale : {"zhTW", "enTW", "zhCN", "enCN", "enUS"}) {
            const bool asked = std::find(c.folders.begin(), c.folders.end(),
                                         std::string("Data/") + locale) != c.folders.end();
            EXPECT_EQ(fs::exists(client / "Data" / locale), asked) << locale;
        }
    }
}

// A realm list file that is read-only survives the main window's clean-up
// and is skipped at a click without a word; the others are written.
TEST_F(LauncherTest, AReadOnlyRealmListIsSkipped) {
    Settings settings = current_settings();
    const fs::path client = make_client(&settings, true, kAllLocales);
    const fs::path locked = client / kRealmLists[3];
    write_text(locked, "SET realmlist \"old\"");
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Outcome r = run(client, "click 单选框1\nanswer ok\n");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> expected = every("SET realmlist \"127.0.0.1\"");
    expected[3] = "SET realmlist \"old\"";
    EXPECT_EQ(realm_lists(client), expected);
    EXPECT_TRUE(contains(r.transcript, "unit-text 透明标签7 \"畅通\"")) << r.transcript;
}

// A realm is usable only with its own digit as enable key; a refused click
// confirms first, then shows the error and closes the main window, writing
// nothing and leaving the status label as it was.
TEST_F(LauncherTest, EnableKeys) {
    struct Case {
        const char* what;
        const char* key;
        const char* value;
        const char* radio;
        bool usable;
    };
    const Case cases[] = {
        {"realm 1 with 1", "Server1", "1", "单选框1", true},
        {"realm 1 with 2", "Server1", "2", "单选框1", false},
        {"realm 1 empty", "Server1", "", "单选框1", false},
        {"realm 1 with 11", "Server1", "11", "单选框1", false},
        {"realm 2 with 2", "Server2", "2", "单选框2", true},
        {"realm 2 with 1", "Server2", "1", "单选框2", false},
        {"realm 2 missing", "Server2", "<none>", "单选框2", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Settings settings = current_settings();
        settings[c.key] = c.value;
        const fs::path client = make_client(&settings, true, kAllLocales);
        Outcome r = run(client, std::string("click ") + c.radio + "\nanswer ok\nanswer ok\n");
        if (c.usable) {
            // The second answer finds no message box up.
            EXPECT_EQ(r.exit_code, 3);
            EXPECT_NE(realm_lists(client), every("-"));
            continue;
        }
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(contains(r.transcript, std::string("user-click ") + c.radio +
                                               "\nunit-checked " + c.radio + " 1\n" + kConfirm +
                                               "msgbox title=\"错误提示\" icon=error buttons=ok "
                                               "text=\"登陆器出现错误！\" answer=ok\n"
                                               "window-close 0x52010002 \"星河\"\nend 0\n"))
            << r.transcript;
        EXPECT_FALSE(contains(r.transcript, "unit-text 透明标签7")) << r.transcript;
        EXPECT_EQ(realm_lists(client), every("-"));
    }
}

// "开始游戏" needs "\realmlist.wtf": the main window deletes the realm lists
// it finds at its creation, and the reset of the tools window deletes it
// again; once a realm is written, the client starts (its path quoted when it
// holds a blank, without waiting, in the launcher's current folder) and the
// main window closes.
TEST_F(LauncherTest, StartingTheGame) {
    struct Case {
        const char* what;
        std::string script;
        bool starts;
        const char* folder_name;  // the client folder renamed to this, or null
        std::vector<std::string> lists;
    };
    const std::string realm1 = "click 单选框1\nanswer ok\n";
    const std::string reset = "click 按钮3\nclick 按钮4\nactivate 52010002\n";
    const Case cases[] = {
        {"at once", "click 按钮4\nanswer ok\n", false, nullptr, every("-")},
        {"after realm 1", realm1 + "click 按钮4\n", true, nullptr,
         every("SET realmlist \"127.0.0.1\"")},
        {"from a folder with a blank", realm1 + "click 按钮4\n", true, "客户端 目录",
         every("SET realmlist \"127.0.0.1\"")},
        {"after the reset",
         realm1 + reset + "click 按钮4\nanswer ok\n",
         false,
         nullptr,
         {"-", "-", "SET realmlist \"127.0.0.1\"", "-", "SET realmlist \"127.0.0.1\"", "-"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Settings settings = current_settings();
        fs::path client = make_client(&settings, true, kAllLocales);
        // Left from an earlier run: the main window's creation deletes them.
        for (const char* name : kRealmLists)
            write_text(client / name, "SET realmlist \"old\"");
        if (c.folder_name != nullptr) {
            const fs::path renamed = client.parent_path() / u8path(c.folder_name);
            fs::rename(client, renamed);
            client = renamed;
        }
        Outcome r = run(client, c.script);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(realm_lists(client), c.lists);
        if (c.starts) {
            // As the transcript quotes it: backslashes and quotes escaped.
            const std::string path = client.string() + "\\\\wow.exe";
            const std::string line =
                c.folder_name != nullptr ? "\"\\\"" + path + "\\\"\"" : "\"" + path + "\"";
            EXPECT_TRUE(contains(r.transcript, "user-click 按钮4\nrun " + line +
                                                   " wait=no\nwindow-close 0x52010002 \"星河\"\n"))
                << r.transcript;
            // The stand-in may still be writing when the launcher has ended.
            for (int i = 0; i < 100 && started(client).empty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(started(client), "wow.exe||" + client.parent_path().string() + "\n");
        } else {
            EXPECT_TRUE(contains(r.transcript,
                                 std::string("user-click 按钮4\n") + kNoRealmList + "script-end"))
                << r.transcript;
            EXPECT_EQ(started(client), "");
        }
    }
}

// ---- latency classes in network namespaces ----

uint16_t checksum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (length % 2 != 0)
        sum += static_cast<uint32_t>(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// The namespace's test host at 127.0.0.1: the kernel's own echo answers are
// off, and this answers each echo request after `delay`, running `before`
// first.
class SlowEchoHost {
  public:
    SlowEchoHost(std::chrono::milliseconds delay, std::function<void()> before)
        : delay_(delay), before_(std::move(before)) {
        socket_ = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        timeval wait{0, 100000};
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        thread_ = std::thread([this] { serve(); });
    }
    ~SlowEchoHost() {
        stop_ = true;
        thread_.join();
        close(socket_);
    }
    bool ready() const { return socket_ >= 0; }

  private:
    void serve() {
        uint8_t packet[2048];
        while (!stop_) {
            sockaddr_in from{};
            socklen_t from_length = sizeof from;
            const ssize_t got = recvfrom(socket_, packet, sizeof packet, 0,
                                         reinterpret_cast<sockaddr*>(&from), &from_length);
            if (got < static_cast<ssize_t>(sizeof(iphdr) + 8))
                continue;
            const size_t header = static_cast<size_t>((packet[0] & 0x0F) * 4);
            uint8_t* icmp = packet + header;
            const size_t length = static_cast<size_t>(got) - header;
            if (icmp[0] != ICMP_ECHO)
                continue;
            std::this_thread::sleep_for(delay_);
            if (before_)
                before_();
            icmp[0] = ICMP_ECHOREPLY;
            icmp[2] = icmp[3] = 0;
            const uint16_t sum = checksum(icmp, length);
            icmp[2] = static_cast<uint8_t>(sum >> 8);
            icmp[3] = static_cast<uint8_t>(sum);
            sendto(socket_, icmp, length, 0, reinterpret_cast<sockaddr*>(&from), from_length);
        }
    }

    std::chrono::milliseconds delay_;
    std::function<void()> before_;
    int socket_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

constexpr int kNoNamespace = 200;

class LauncherInNamespace : public LauncherTest {
  protected:
    // Runs the client's launcher with the script in a network namespace made
    // for the run (only its loopback interface exists), with nginx inside.
    // Echo requests to 127.0.0.1 are answered by the kernel at once
    // (`delay_ms` -1), by the slow host after `delay_ms`, or not at all (-2);
    // the slow host writes `edited` over the settings before each answer.
    // Gives the transcript; nullopt when no namespace can be made here.
    std::optional<std::string> run_inside(const fs::path& client, const Settings& settings,
                                          int delay_ms, const Settings& edited,
                                          const std::string& script) {
        const fs::path result = client.parent_path() / (client.filename().string() + ".result");
        const pid_t child = fork();
        if (child == 0) {
            // The test host answers echoes itself (late or not at all), so
            // the system's own answer is switched off unless it is the one.
            test_support::NamespaceSettings settings_here;
            settings_here.echo_answered = delay_ms == -1;
            if (!test_support::enter_network_namespace(settings_here))
                _exit(kNoNamespace);
            int code = 1;
            {
                test_support::NginxServer server(site());
                const auto served_inside = [&](Settings s) {
                    s["bb"] = server.address("1.0.ini");
                    s["aa"] = server.address("launcher.ini");
                    return s;
                };
                write_settings(client, served_inside(settings));
                Settings later = settings;
                for (const auto& [key, value] : edited)
                    later[key] = value;
                later = served_inside(later);
                std::unique_ptr<SlowEchoHost> host;
                if (delay_ms >= 0)
                    host = std::make_unique<SlowEchoHost>(std::chrono::milliseconds(delay_ms), [&] {
                        if (!edited.empty())
                            write_settings(client, later);
                    });
                if (server.running() && (!host || host->ready())) {
                    Outcome r = run(client, script);
                    write_text(result, r.transcript);
                    code = r.exit_code;
                }
            }
            _exit(code);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace)
            return std::nullopt;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        return test_support::read_text(result);
    }
};

#define SKIP_WITHOUT_NAMESPACE(result) \
    if (!(result))                     \
    GTEST_SKIP() << "no network namespace can be made here (needs root)"

// The classes of the echo time, and what is written whatever the answer.
// The address is read again before each realm list file: the host that
// changes ServerD1 before it answers shows that the files get the new value.
TEST_F(LauncherInNamespace, LatencyClasses) {
    struct Case {
        const char* what;
        int delay_ms;  // -1: the kernel answers; -2: nothing answers
        const char* address;
        Settings edited;
        const char* status;
        const char* written;
    };
    const Case cases[] = {
        {"answered at once", -1, "127.0.0.1", {}, "畅通", "127.0.0.1"},
        {"answered at once, by name", -1, "localhost", {}, "畅通", "localhost"},
        {"answered after 300 ms", 300, "127.0.0.1", {}, "繁忙", "127.0.0.1"},
        {"answered after 1200 ms", 1200, "127.0.0.1", {}, "爆满", "127.0.0.1"},
        {"never answered", -2, "127.0.0.1", {}, "维护", "127.0.0.1"},
        {"empty address", -2, "", {}, "维护", ""},
        {"name not resolvable", -2, "no-such-host.invalid", {}, "维护", "no-such-host.invalid"},
        {"a quote in the address, kept", -2, "a\"b", {}, "维护", "a\"b"},
        {"address edited while the echo runs",
         0,
         "127.0.0.1",
         {{"ServerD1", "127.0.0.2"}},
         "畅通",
         "127.0.0.2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Settings settings = current_settings();
        settings["ServerD1"] = c.address;
        const fs::path client = make_client(&settings, true, {"Data/zhCN"});
        auto transcript =
            run_inside(client, settings, c.delay_ms, c.edited, "click 单选框1\nanswer ok\n");
        SKIP_WITHOUT_NAMESPACE(transcript);
        EXPECT_TRUE(contains(*transcript, std::string("unit-text 透明标签7 \"") + c.status + "\""))
            << *transcript;
        const std::string line = std::string("SET realmlist \"") + c.written + "\"";
        EXPECT_EQ(test_support::read_text(client / "realmlist.wtf"), line);
        EXPECT_EQ(test_support::read_text(client / "Data/zhCN/realmlist.wtf"), line);
        EXPECT_EQ(fs::file_size(client / "realmlist.wtf"), 16 + std::strlen(c.written));
    }
}

// Settings edited while the launcher runs: the next use of a key read at
// each use sees the new value (the home page, the realm address), while the
// caption stays as the main window's creation read it.
TEST_F(LauncherInNamespace, SettingsEditedWhileRunning) {
    const Settings settings = current_settings();
    const fs::path client = make_client(&settings);
    auto transcript = run_inside(client, settings, 0,
                                 {{"ServerD1", "127.0.0.2"},
                                  {"index", "http://home.example/new"},
                                  {"Title", "新标题"},
                                  {"ServerName1", "新区"}},
                                 "click 按钮2\nclick 单选框1\nanswer ok\nclick 按钮2\n");
    SKIP_WITHOUT_NAMESPACE(transcript);
    EXPECT_TRUE(contains(*transcript, "user-click 按钮2\nopen-address \"http://home.example/\"\n"))
        << *transcript;
    EXPECT_TRUE(
        contains(*transcript, "user-click 按钮2\nopen-address \"http://home.example/new\"\n"))
        << *transcript;
    EXPECT_FALSE(contains(*transcript, "新标题")) << *transcript;
    EXPECT_FALSE(contains(*transcript, "新区")) << *transcript;
    EXPECT_EQ(test_support::read_text(client / "realmlist.wtf"), "SET realmlist \"127.0.0.2\"");
}

}  // namespace
}  // namespace launcher_test
