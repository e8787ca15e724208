// The page buttons and the two link labels of the main window.
//
// The credit label starts the browser at its fixed path (quoted: the path
// holds blanks); where that program is not there, as on current Windows,
// the address opens in the user's default browser instead.
#include "launcher/launcher.h"
#include "rt/process.h"
#include "rt/program.h"
#include "units.h"

namespace {

constexpr char kCreditAddress[] = "http://www.example.com/";

void open_setting(const char* key) {
    rt::Text address = launcher::setting("Main", key);
    rt::open_address(address.c_str());
}

}  // namespace

extern "C" {

RT_CALL void home_page_clicked() {
    open_setting("index");
}

RT_CALL void register_clicked() {
    open_setting("reg");
}

RT_CALL void editions_pressed(int32_t, int32_t, int32_t) {
    ui::edition_window().load();
}

RT_CALL void credit_pressed(int32_t, int32_t, int32_t) {
    launcher::TextBuffer command;
    command << "\"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE\"  " << kCreditAddress;
    if (rt::run(command.c_str(), false) == -1)
        rt::open_address(kCreditAddress);
}

}  // extern "C"
