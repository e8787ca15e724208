#include "tests/launcher/launcher_fixture.h"

#include <unistd.h>

#include "base/encoding.h"

namespace launcher_test {

namespace {

const fs::path kLauncher = fs::path(NATIVE_BUILD_DIR) / "launcher" / "launcher";

// The stand-in records its name, arguments and current folder beside itself;
// the updater's records its end too, after a pause, so that a launcher that
// did not wait for it would be seen ending first.
const char kRecorder[] =
    "#!/bin/sh\n"
    "echo \"$(basename \"$0\")|$*|$PWD\" >> \"$(dirname \"$0\")/started.log\"\n";
const char kUpdaterTail[] =
    "sleep 0.3\n"
    "echo \"update.exe ended\" >> \"$(dirname \"$0\")/started.log\"\n";

const char* section_of(const std::string& key) {
    if (key == "bb" || key == "aa" || key == "va")
        return "v";
    if (key.starts_with("Server"))
        return "Server";
    return "Main";
}

}  // namespace

std::string gbk(const std::string& utf8) {
    return base::utf8_to_gbk(utf8).value();
}

fs::path u8path(const std::string& utf8) {
    return fs::path(reinterpret_cast<const char8_t*>(utf8.c_str()));
}

void write_text(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    test_support::write_bytes(
        path, std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

test_support::ScratchDir* LauncherTest::scratch_ = nullptr;
test_support::NginxServer* LauncherTest::server_ = nullptr;
int LauncherTest::clients_ = 0;

void LauncherTest::SetUpTestSuite() {
    scratch_ = new test_support::ScratchDir;
    fs::create_directories(*scratch_ / "tmp");
    fs::create_directories(desktop());
    fs::create_directories(*scratch_ / "home" / ".config");
    write_text(site() / "1.0.ini", "[Update]\r\nvs=1.0\r\n");
    write_text(site() / "launcher.ini", "[Launcher]\r\nnotice=served\r\n");
    server_ = new test_support::NginxServer(site());
}

void LauncherTest::TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    delete scratch_;
    scratch_ = nullptr;
}

std::string LauncherTest::served(const std::string& name) {
    return server_->address(name);
}

Settings LauncherTest::current_settings() {
    return {
        {"Title", "星河"},
        {"index", "http://home.example/"},
        {"reg", "http://home.example/reg"},
        {"News2", "http://home.example/news"},
        {"bb", served("1.0.ini")},
        {"aa", served("launcher.ini")},
        {"Server1", "1"},
        {"ServerD1", "127.0.0.1"},
        {"ServerName1", "一区"},
        {"Server2", "2"},
        {"ServerD2", "localhost"},
        {"ServerName2", "二区"},
    };
}

void LauncherTest::write_settings(const fs::path& client, const Settings& settings) {
    std::map<std::string, std::string> sections;
    for (const auto& [key, value] : settings)
        if (value != "<none>")
            sections[section_of(key)] += key + "=" + value + "\r\n";
    std::string text;
    for (const auto& [section, lines] : sections)
        text += "[" + section + "]\r\n" + lines;
    write_text(client / "wow.ini", gbk(text));
}

fs::path LauncherTest::make_client(const Settings* settings, bool with_client,
                                   const std::vector<std::string>& folders) {
    const fs::path client = *scratch_ / ("client" + std::to_string(++clients_));
    fs::create_directories(client);
    if (settings != nullptr)
        write_settings(client, *settings);
    if (with_client)
        write_text(client / "wow.exe", kRecorder);
    write_text(client / "update.exe", std::string(kRecorder) + kUpdaterTail);
    fs::permissions(client / "update.exe", fs::perms::owner_exec, fs::perm_options::add);
    if (with_client)
        fs::permissions(client / "wow.exe", fs::perms::owner_exec, fs::perm_options::add);
    for (const std::string& folder : folders)
        fs::create_directories(client / u8path(folder));
    fs::copy_file(kLauncher, client / "launcher");
    return client;
}

Outcome LauncherTest::run(const fs::path& client, const std::string& script,
                          const std::vector<std::string>& extra) {
    EXPECT_TRUE(server_->running()) << server_->error();
    const fs::path script_file = client.parent_path() / (client.filename().string() + ".script");
    const fs::path transcript = client.parent_path() / (client.filename().string() + ".transcript");
    write_text(script_file, script);
    fs::remove(transcript);
    std::vector<std::string> environment = {
        "HOME=" + (*scratch_ / "home").string(),
        "XDG_CONFIG_HOME=" + (*scratch_ / "home" / ".config").string(),
        "TMPDIR=" + (*scratch_ / "tmp").string(),
        "WJRT_SCRIPT=" + script_file.string(),
        "WJRT_TRANSCRIPT=" + transcript.string(),
    };
    environment.insert(environment.end(), extra.begin(), extra.end());
    auto result =
        test_support::run({(client / "launcher").string()}, environment, 120, scratch_->path());
    return {result.exit_code, test_support::read_text(transcript), result.err};
}

std::string LauncherTest::started(const fs::path& client) {
    return fs::exists(client / "started.log") ? test_support::read_text(client / "started.log")
                                              : "";
}

}  // namespace launcher_test
