// The two realms: their captions and the emptied realm list files when the
// main window is created, a realm's click (confirmation, enable key,
// latency test, the six realm list files), and the game start.
//
// Choices where the rules leave them open:
// - The echo waits 2000 ms, well above the slowest class (above 800 ms);
//   a host name is resolved to its first address.
// - An echo time of exactly 100 ms shows "繁忙" and one of exactly 800 ms
//   "爆满": each boundary goes to the slower class.
// - The two radio buttons have different holders (the first lies in the
//   group box), so a click unchecks the other one itself: one realm shows
//   as chosen, as a player expects.
// - The client's path is quoted on its command line when it holds a blank,
//   so that Windows cannot take a shorter path for the program.
#include "launcher/launcher.h"
#include "rt/files.h"
#include "rt/message_box.h"
#include "rt/network.h"
#include "rt/process.h"
#include "rt/program.h"
#include "units.h"

namespace launcher {

namespace {

constexpr int32_t kEchoWaitMs = 2000;

// In the order they are written.
constexpr const char* kRealmListFolders[] = {
    "", "\\Data\\zhTW", "\\Data\\enTW", "\\Data\\zhCN", "\\Data\\enCN", "\\Data\\enUS",
};
// In the order they are deleted when the main window is created.
constexpr const char* kDeletedAtCreation[] = {
    "\\realmlist.wtf",
    "\\Data\\zhCN\\realmlist.wtf",
    "\\Data\\zhTW\\realmlist.wtf",
    "\\Data\\enUS\\realmlist.wtf",
    "\\Data\\enCN\\realmlist.wtf",
    "\\Data\\enTW\\realmlist.wtf",
};

const char* status_word(int32_t echo_ms) {
    if (echo_ms == -1)
        return "维护";
    if (echo_ms < 100)
        return "畅通";
    if (echo_ms < 800)
        return "繁忙";
    return "爆满";
}

int32_t echo_time(const char* address) {
    rt::Text dotted = rt::resolve_host(address);
    if (dotted.empty())
        return -1;
    return rt::ping(dotted.c_str(), kEchoWaitMs);
}

// Writes the realm's address (read afresh for every file) into each realm
// list file whose folder is there; nothing is created, nothing reported.
void write_realm_lists(const char* address_key) {
    for (const char* folder : kRealmListFolders) {
        TextBuffer holder;
        client_path(holder, folder);
        if (folder[0] != '\0' && !rt::file_exists(holder.c_str()))
            continue;
        TextBuffer path;
        path << holder.c_str() << "\\realmlist.wtf";
        rt::Text address = setting("Server", address_key);
        TextBuffer content;
        content << "SET realmlist \"" << address.c_str() << '"';
        rt::write_file(path.c_str(), content.c_str());
    }
}

void realm_clicked(int32_t realm) {
    (realm == 1 ? ui::realm2_radio() : ui::realm1_radio()).set_checked(false);
    rt::message_box("已选中区域，请点下方进入游戏!", RT_MB_OK);

    const char digit[2] = {static_cast<char>('0' + realm), '\0'};
    TextBuffer enable_key, address_key;
    enable_key << "Server" << digit;
    address_key << "ServerD" << digit;
    if (!(setting("Server", enable_key.c_str()) == digit)) {
        rt::message_box("登陆器出现错误！", RT_MB_ICON_ERROR | RT_MB_OK, kErrorTitle);
        ui::main_window().close();
        return;
    }
    rt::Text address = setting("Server", address_key.c_str());
    ui::status_label().set_text(status_word(echo_time(address.c_str())));
    write_realm_lists(address_key.c_str());
}

bool holds_blank(const char* text) {
    for (; *text != '\0'; ++text)
        if (*text == ' ')
            return true;
    return false;
}

}  // namespace

}  // namespace launcher

extern "C" {

RT_CALL void main_window_created() {
    using namespace launcher;
    rt::Text title = setting("Main", "Title");
    ui::main_window().set_text(title.c_str());
    rt::Text news = setting("Main", "News2");
    ui::news_view().set_address(news.c_str());

    rt::Text name1 = setting("Server", "ServerName1");
    ui::realm1_radio().set_text(name1.c_str());
    rt::Text name2 = setting("Server", "ServerName2");
    ui::realm2_radio().set_text(name2.c_str());
    for (const char* file : kDeletedAtCreation) {
        TextBuffer path;
        client_path(path, file);
        rt::delete_file(path.c_str());
    }
}

RT_CALL void realm1_clicked() {
    launcher::realm_clicked(1);
}

RT_CALL void realm2_clicked() {
    launcher::realm_clicked(2);
}

RT_CALL void start_game_clicked() {
    using namespace launcher;
    TextBuffer realm_list;
    client_path(realm_list, "\\realmlist.wtf");
    if (!rt::file_exists(realm_list.c_str())) {
        rt::message_box("您的客户端没realmlist.wtf文件，无法运行!", RT_MB_ICON_ERROR | RT_MB_OK,
                        kErrorTitle);
        return;
    }
    TextBuffer client;
    client_path(client, "\\wow.exe");
    TextBuffer command;
    if (holds_blank(client.c_str()))
        command << '"' << client.c_str() << '"';
    else
        command << client.c_str();
    rt::run(command.c_str(), false);
    ui::main_window().close();
}

}  // extern "C"
