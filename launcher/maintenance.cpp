// The tools window: each button deletes fixed folders (and, for the reset,
// fixed files) below the client folder, in a fixed order, going on whatever
// the previous item's outcome. Only the add-on and font buttons report.
//
// Choices where the rules leave them open:
// - A folder that is not there counts as cleared: "清除完毕". There is
//   nothing left of what the player wanted gone.
// - A second click on "安全清理" brings the open tools window to the front
//   rather than opening another one.
// Links inside a deleted folder are removed, never followed (the runtime's
// folder deletion), so a link to a folder outside the client cannot make a
// clean-up reach beyond the client.
#include "launcher/launcher.h"
#include "rt/files.h"
#include "rt/message_box.h"
#include "rt/program.h"
#include "units.h"

namespace launcher {

namespace {

bool delete_client_folder(const char* relative) {
    TextBuffer path;
    client_path(path, relative);
    return rt::delete_folder(path.c_str());
}

void delete_client_file(const char* relative) {
    TextBuffer path;
    client_path(path, relative);
    rt::delete_file(path.c_str());
}

void delete_folders(const char* const* folders, int count) {
    for (int i = 0; i < count; ++i)
        delete_client_folder(folders[i]);
}

void clear_and_report(const char* folder) {
    const bool cleared = delete_client_folder(folder);
    rt::message_box(cleared ? "清除完毕" : "清除失败", RT_MB_OK, "提示");
}

}  // namespace

}  // namespace launcher

extern "C" {

RT_CALL void tools_clicked() {
    ui::tools_window().load();
}

RT_CALL void clear_addons_clicked() {
    launcher::clear_and_report("\\Interface");
}

RT_CALL void clear_logs_clicked() {
    static const char* const folders[] = {"\\Errors", "\\Logs"};
    launcher::delete_folders(folders, 2);
}

RT_CALL void clear_cache_clicked() {
    static const char* const folders[] = {"\\WDB", "\\WTF"};
    launcher::delete_folders(folders, 2);
}

RT_CALL void reset_clicked() {
    static const char* const folders[] = {"\\WDB", "\\Interface\\AddOns", "\\Errors", "\\Logs",
                                          "\\WTF"};
    launcher::delete_folders(folders, 5);
    static const char* const files[] = {"\\realmlist.wtf", "\\Data\\zhCN\\realmlist.wtf",
                                        "\\Data\\zhTW\\realmlist.wtf",
                                        "\\Data\\enUS\\realmlist.wtf"};
    for (const char* file : files)
        launcher::delete_client_file(file);
}

RT_CALL void clear_fonts_clicked() {
    launcher::clear_and_report("\\Fonts");
}

RT_CALL void weather_clicked() {
    ui::weather_window().load_modal();
}

RT_CALL void weather_close_clicked() {
    ui::weather_window().close();
}

}  // extern "C"
