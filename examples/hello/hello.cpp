// The example application: names to greet in a list box, a settings window
// shown modal, message boxes.
//
// How an application is written
// -----------------------------
// An application is a program description (hello.desc) and C++ code built
// into a program image with the SDK (image/sdk/include/rt):
//
//   add_program_image(NAME hello ARCH x86-64 DESCRIPTION hello.desc SOURCES hello.cpp)
//
// - The description declares the windows and their units: identifiers,
//   types, unit names, place, flags, properties (text, items, checked, ...)
//   and, per event, the routine that handles it (`on 0 add_clicked`).
// - The code is freestanding C++ compiled to GBK texts: no C or C++ library,
//   no exceptions, no initialised writable globals (zero-initialised ones
//   and constants are fine). Heap memory comes from the runtime (new, delete,
//   rt::Text, rt::Array).
// - Handlers are `extern "C" RT_CALL void name()` routines named in the
//   description. Windows and units are named in code with RT_ID(hex), unit
//   types with RT_TYPE(library, hex): the image linker records each use so
//   the runtime can find it again.
// - The runtime is reached through its slots (rt/slots.h): properties with
//   rt_get_property / rt_set_property (RT_PROPERTY_*), everything else with
//   kernel commands built with rt::arguments (RT_KERNEL_*). A text that the
//   runtime returns belongs to the caller: rt::Text::adopt takes it over.
// - The start routine of the SDK loads window 52010001, serves its events
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
#include "rt/args.h"
#include "rt/array.h"
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text.h"
#include "rt/text_line.h"

namespace {

// ---- small helpers over the runtime's slots ----

int64_t address_of(const char* text) {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(text));
}

rt::Text text_of(uint32_t window, uint32_t unit) {
    return rt::Text::adopt(
        static_cast<intptr_t>(rt_get_property(window, unit, RT_PROPERTY_TEXT, -1)));
}

void set_text(uint32_t window, uint32_t unit, const char* text) {
    rt_set_property(window, unit, RT_PROPERTY_TEXT, -1, address_of(text));
}

void set_enabled(uint32_t window, uint32_t unit, bool enabled) {
    rt_set_property(window, unit, RT_PROPERTY_ENABLED, -1, enabled ? 1 : 0);
}

int32_t message_box(const char* text, int32_t style, const char* title) {
    auto block = rt::arguments(rt::text(text), rt::integer(style), rt::text(title));
    return static_cast<int32_t>(rt_kernel_command(RT_KERNEL_MESSAGE_BOX, block.get()));
}

void close_window(uint32_t window) {
    auto block = rt::arguments(rt::integer(static_cast<int32_t>(window)));
    rt_kernel_command(RT_KERNEL_CLOSE_WINDOW, block.get());
}

// A text put together on the stack.
using Line = rt::TextLine<>;

// A decimal number from a text; 0 when it is none.
int32_t number_of(const char* text) {
    int32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10 + (*text - '0');
    return *text == '\0' ? value : 0;
}

// ---- the main window's units ----

uint32_t main_window() {
    return RT_ID(52010001);
}
uint32_t name_edit() {
    return RT_ID(16010002);
}
uint32_t add_button() {
    return RT_ID(16010003);
}
uint32_t names_list_id() {
    return RT_ID(16010004);
}
uint32_t greet_button() {
    return RT_ID(16010005);
}
uint32_t remove_button() {
    return RT_ID(16010006);
}
uint32_t status_label() {
    return RT_ID(16010008);
}
// The list box as a command argument: its type, window and unit.
RtArgument names_list() {
    return rt::unit(RT_TYPE(krnln, 000F), main_window(), names_list_id());
}

uint32_t settings_window() {
    return RT_ID(52010002);
}
uint32_t number_edit() {
    return RT_ID(16010011);
}
uint32_t exclaim_radio() {
    return RT_ID(16010014);
}

// ---- the program's state ----

rt::Array<const char*>* g_greetings;  // the greetings to choose from
int32_t g_greeting;                   // which one, from 1
bool g_plain;                         // a full stop instead of an exclamation mark

int32_t name_count() {
    return static_cast<int32_t>(
        rt_get_property(main_window(), names_list_id(), RT_PROPERTY_ITEM_COUNT, -1));
}

int32_t selected_row() {
    return static_cast<int32_t>(
        rt_get_property(main_window(), names_list_id(), RT_PROPERTY_SELECTION, -1));
}

rt::Text name_at(int32_t row) {
    return rt::Text::adopt(static_cast<intptr_t>(
        rt_get_property(main_window(), names_list_id(), RT_PROPERTY_ITEM, row)));
}

void show_count() {
    Line line;
    line << "共 " << name_count() << " 个名字";
    set_text(main_window(), status_label(), line.c_str());
}

void allow_greeting(bool allowed) {
    set_enabled(main_window(), greet_button(), allowed);
    set_enabled(main_window(), remove_button(), allowed);
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
    rt::Text name = text_of(main_window(), name_edit());
    set_enabled(main_window(), add_button(), !name.empty());
}

RT_CALL void add_clicked() {
    rt::Text name = text_of(main_window(), name_edit());
    auto block = rt::arguments(names_list(), rt::text(name.c_str()), rt::integer(-1));
    rt_kernel_command(RT_KERNEL_INSERT_ITEM, block.get());
    set_text(main_window(), name_edit(), "");  // runs name_changed: nothing to add
    show_count();
}

RT_CALL void name_selected() {
    rt::Text name = name_at(selected_row());
    Line line;
    line << "已选择：" << name.c_str();
    set_text(main_window(), status_label(), line.c_str());
    allow_greeting(true);
}

RT_CALL void greet_clicked() {
    rt::Text name = name_at(selected_row());
    Line line;
    line << (*g_greetings)[g_greeting] << "，" << name.c_str() << (g_plain ? "。" : "！");
    message_box(line.c_str(), RT_MB_ICON_INFORMATION | RT_MB_OK, "问候");
}

RT_CALL void remove_clicked() {
    const int32_t row = selected_row();
    rt::Text name = name_at(row);
    Line question;
    question << "要删除“" << name.c_str() << "”吗？";
    if (message_box(question.c_str(), RT_MB_ICON_NONE | RT_MB_YES_NO, "删除") != RT_MB_ANSWER_YES)
        return;
    auto block = rt::arguments(names_list(), rt::integer(row));
    rt_kernel_command(RT_KERNEL_REMOVE_ITEM, block.get());
    allow_greeting(false);
    show_count();
}

RT_CALL void settings_clicked() {
    auto block = rt::arguments(rt::integer(static_cast<int32_t>(settings_window())));
    rt_kernel_command(RT_KERNEL_LOAD_WINDOW_MODAL, block.get());
    // Back when the settings window is closed, by either button or its user.
    Line line;
    line << "问候语：" << (*g_greetings)[g_greeting];
    set_text(main_window(), status_label(), line.c_str());
}

// ---- the settings window ----

RT_CALL void settings_created() {
    Line number;
    number << g_greeting;
    set_text(settings_window(), number_edit(), number.c_str());
    if (g_plain)
        rt_set_property(settings_window(), RT_ID(16010013), RT_PROPERTY_CHECKED, -1, 1);
}

RT_CALL void settings_ok() {
    rt::Text number = text_of(settings_window(), number_edit());
    const int32_t greeting = number_of(number.c_str());
    // The array checks the number: 0 is run-time error 4, 4 and above are 1.
    const char* chosen = (*g_greetings)[greeting];
    (void)chosen;
    g_greeting = greeting;
    g_plain = rt_get_property(settings_window(), exclaim_radio(), RT_PROPERTY_CHECKED, -1) == 0;
    close_window(settings_window());
}

RT_CALL void settings_cancel() {
    close_window(settings_window());
}

}  // extern "C"
