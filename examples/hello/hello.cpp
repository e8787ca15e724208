// The example application: names to greet in a list box, a settings window
// shown modal, message boxes.
//
// How an application is written
// -----------------------------
// An application is a program description (hello.desc) and C++ code built
// with the SDK (image/sdk/include/rt) into a program image for i386 and
// x86-64, and assembled with the loader stub and the runtime for every
// target. Its CMakeLists.txt holds one line:
//
//   add_program(NAME hello DESCRIPTION hello/hello.desc SOURCES hello/hello.cpp)
//
// - The description declares the windows and their units: identifiers,
//   types, unit names, place, flags, properties (text, items, checked, ...),
//   the code name of each unit the code uses (`name names_list`), per event
//   the routine that handles it (`on click add_clicked`), the support
//   libraries (`library eCompress`) and the start window (`start 52010001`).
// - "units.h", written from the description, gives each named window and
//   unit a typed handle in namespace ui: ui::names_list() is an
//   rt::ListBox, ui::settings_window() an rt::Window (rt/window.h). Message
//   boxes are rt::message_box (rt/message_box.h); files, processes, profiles
//   and the folder choice have their own headers.
// - The code is freestanding C++ compiled to GBK texts: no C or C++ library,
//   no exceptions, no initialised writable globals (zero-initialised ones
//   and constants are fine). Heap memory comes from the runtime (new, delete,
//   rt::Text, rt::Array). A text that the runtime returns belongs to the
//   caller: rt::Text holds it.
// - Handlers are `extern "C" RT_CALL void name()` routines named in the
//   description.
// - The start routine of the SDK loads the start window, serves its events
//   until the last window is closed, and ends the program. Globals that hold
//   heap blocks are set up in app_initialise_globals and released in
//   app_release_globals, which runs however the program ends.
// - Array indexes start at 1 and are checked: an index below 1 ends the
//   program with run-time error 4, one above the element count with run-time
//   error 1 (type 0 or 4 as the greeting number in the settings window).
//
// Running it without a person: WJRT_SCRIPT names a script (UTF-8) that takes
// the user's part, WJRT_TRANSCRIPT a file that receives what a person would
// have seen, one line per event:
//
//   select 列表框_名单 1
//   click 按钮_问候
//   answer ok
//   close
#include "rt/array.h"
#include "rt/message_box.h"
#include "rt/program.h"
#include "rt/text.h"
#include "rt/text_line.h"
#include "units.h"

namespace {

using namespace ui;

// A text put together on the stack.
using Line = rt::TextLine<>;

// A decimal number from a text; 0 when it is none.
int32_t number_of(const char* text) {
    int32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10 + (*text - '0');
    return *text == '\0' ? value : 0;
}

// ---- the program's state ----

rt::Array<const char*>* g_greetings;  // the greetings to choose from
int32_t g_greeting;                   // which one, from 1
bool g_plain;                         // a full stop instead of an exclamation mark

void show_count() {
    Line line;
    line << "共 " << names_list().count() << " 个名字";
    status_label().set_text(line.c_str());
}

void allow_greeting(bool allowed) {
    greet_button().set_enabled(allowed);
    remove_button().set_enabled(allowed);
}

}  // namespace

extern "C" {

RT_CALL void app_initialise_globals() {
    g_greetings = new rt::Array<const char*>(rt::Array<const char*>::of_size(3));
    (*g_greetings)[1] = "你好";
    (*g_greetings)[2] = "早上好";
    (*g_greetings)[3] = "晚上好";
    g_greeting = 1;
}

RT_CALL void app_release_globals() {
    delete g_greetings;
    g_greetings = nullptr;
}

// ---- the main window ----

RT_CALL void main_created() {
    show_count();
}

// The name typed: a name can be added once there is one.
RT_CALL void name_changed() {
    add_button().set_enabled(!name_edit().text().empty());
}

RT_CALL void add_clicked() {
    rt::Text name = name_edit().text();
    names_list().add(name.c_str());
    name_edit().set_text("");  // runs name_changed: nothing to add
    show_count();
}

RT_CALL void name_selected() {
    rt::Text name = names_list().selected_row();
    Line line;
    line << "已选择：" << name.c_str();
    status_label().set_text(line.c_str());
    allow_greeting(true);
}

RT_CALL void greet_clicked() {
    rt::Text name = names_list().selected_row();
    Line line;
    line << (*g_greetings)[g_greeting] << "，" << name.c_str() << (g_plain ? "。" : "！");
    rt::message_box(line.c_str(), RT_MB_ICON_INFORMATION | RT_MB_OK, "问候");
}

RT_CALL void remove_clicked() {
    const int32_t row = names_list().selection();
    rt::Text name = names_list().row(row);
    Line question;
    question << "要删除“" << name.c_str() << "”吗？";
    if (rt::message_box(question.c_str(), RT_MB_ICON_NONE | RT_MB_YES_NO, "删除") !=
        RT_MB_ANSWER_YES)
        return;
    names_list().remove(row);
    allow_greeting(false);
    show_count();
}

RT_CALL void settings_clicked() {
    settings_window().load_modal();
    // Back when the settings window is closed, by either button or its user.
    Line line;
    line << "问候语：" << (*g_greetings)[g_greeting];
    status_label().set_text(line.c_str());
}

// ---- the settings window ----

RT_CALL void settings_created() {
    Line number;
    number << g_greeting;
    number_edit().set_text(number.c_str());
    if (g_plain)
        full_stop_radio().set_checked(true);
}

RT_CALL void settings_ok() {
    rt::Text number = number_edit().text();
    const int32_t greeting = number_of(number.c_str());
    // The array checks the number: 0 is run-time error 4, 4 and above are 1.
    const char* chosen = (*g_greetings)[greeting];
    (void)chosen;
    g_greeting = greeting;
    g_plain = !exclaim_radio().checked();
    settings_window().close();
}

RT_CALL void settings_cancel() {
    settings_window().close();
}

}  // extern "C"
