// The start sequence, run once when the version check window (the start
// window) has been created: the desktop shortcut, the two existence tests,
// the version check against the operator's server, then either the main
// window or the hand-off to the updater.
//
// Where the launcher is stricter than the plain sequence:
// - The shortcut's file name is made from the title by shortcut_name.h, so
//   no title can put the file outside the desktop folder; without a desktop
//   folder no shortcut is written at all (rather than one at the root).
// - Downloads go through the internet library, whose fetch gives up when it
//   cannot connect within 60 s or the reply stalls for 30 s: a server that
//   accepts and never answers counts as a failed download after that.
#include "launcher/launcher.h"
#include "launcher/shortcut_name.h"
#include "rt/files.h"
#include "rt/internet.h"
#include "rt/message_box.h"
#include "rt/process.h"
#include "rt/profile.h"
#include "rt/program.h"
#include "rt/shortcut.h"
#include "units.h"

namespace launcher {

namespace {

Kept* g_kept;

constexpr char kMissingSettings[] = "登录器缺少wow.ini文件，无法运行!肯定被你删除了！";
constexpr char kMissingClient[] = "请把本程序放在星河纪元客户端目录运行";

void write_desktop_shortcut() {
    rt::Text desktop = rt::desktop_folder();
    if (desktop.empty())
        return;
    const char* title = kept().title.c_str();
    TextBuffer path;
    path << desktop.c_str() << '\\';
    shortcut_file_name(title, path);
    TextBuffer target;
    client_path(target, "\\");
    target << rt::program_file_name().c_str();
    TextBuffer comment;
    comment << title << "\r\n" << title;
    TextBuffer working_folder;
    client_path(working_folder, "\\");
    rt::write_shortcut(path.c_str(), target.c_str(), comment.c_str(), working_folder.c_str());
}

// Fetches `address` and writes what came over the file; a failed fetch
// leaves the file empty.
void download(const char* address, const char* relative) {
    TextBuffer path;
    client_path(path, relative);
    rt::Bytes body = rt::http_get(address);
    if (body.count() > 0)
        rt::write_file(path.c_str(), body);
    else
        rt::write_file(path.c_str(), "");
}

bool client_file_exists(const char* relative) {
    TextBuffer path;
    client_path(path, relative);
    return rt::file_exists(path.c_str());
}

void start_sequence() {
    Kept& k = kept();
    k.title = setting("Main", "Title");
    k.version_url = setting("v", "bb");
    k.second_url = setting("v", "aa");

    write_desktop_shortcut();

    if (!client_file_exists(kSettingsFile)) {
        rt::message_box(kMissingSettings, RT_MB_ICON_ERROR | RT_MB_OK, kErrorTitle);
        return;
    }
    if (!client_file_exists("\\wow.exe")) {
        rt::message_box(kMissingClient, RT_MB_ICON_ERROR | RT_MB_OK, "错误");
        rt_exit(0);
    }

    download(k.version_url.c_str(), "\\update.ini");
    TextBuffer version_file;
    client_path(version_file, "\\update.ini");
    rt::Text published = rt::read_profile(version_file.c_str(), "Update", "vs");

    if (published == kVersion) {
        download(k.second_url.c_str(), "\\launcher.ini");
        ui::main_window().load();
        ui::version_window().close();
        return;
    }
    TextBuffer message;
    message << "登陆器已更新[" << published.c_str() << "]\r\n自动运行update.exe\r\n进行更新!";
    rt::message_box(message.c_str(), RT_MB_OK);
    rt::run("update.exe", true);
    ui::version_window().close();
}

}  // namespace

Kept& kept() {
    return *g_kept;
}

void client_path(TextBuffer& out, const char* relative) {
    rt::Text folder = rt::program_folder();
    out << folder.c_str() << relative;
}

rt::Text setting(const char* section, const char* key) {
    TextBuffer file;
    client_path(file, kSettingsFile);
    return rt::read_profile(file.c_str(), section, key);
}

}  // namespace launcher

extern "C" {

RT_CALL void app_initialise_globals() {
    launcher::g_kept = new launcher::Kept();
}

RT_CALL void app_release_globals() {
    delete launcher::g_kept;
    launcher::g_kept = nullptr;
}

RT_CALL void version_window_created() {
    launcher::start_sequence();
}

}  // extern "C"
