// Lists, through the runtime's file search, the .dat files and then the
// folders of the current folder, each name written as the edit box's text;
// a third search is ended after its first name.
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text.h"

namespace {

uint32_t g_search;

void show(const rt::Text& name) {
    rt_set_property(RT_ID(52010001), RT_ID(16010002), RT_PROPERTY_TEXT, -1,
                    static_cast<int64_t>(reinterpret_cast<uintptr_t>(name.c_str())));
}

void list(const char* pattern, uint32_t attributes) {
    intptr_t first = reinterpret_cast<intptr_t>(pattern);
    for (;;) {
        rt::Text name = rt::Text::adopt(rt_service(RT_SERVICE_FIND_FILE, first, attributes, 0,
                                                   reinterpret_cast<intptr_t>(&g_search)));
        if (name.empty())
            return;
        show(name);
        first = 0;
    }
}

}  // namespace

extern "C" RT_CALL void on_window_created() {
    list("*.dat", 0);
    list("*", 0x10);
    rt::Text first =
        rt::Text::adopt(rt_service(RT_SERVICE_FIND_FILE, reinterpret_cast<intptr_t>("*.*"), 0, 0,
                                   reinterpret_cast<intptr_t>(&g_search)));
    show(first);
    rt_service(RT_SERVICE_END_FIND, reinterpret_cast<intptr_t>(&g_search), 0, 0, 0);
    rt::Text after = rt::Text::adopt(
        rt_service(RT_SERVICE_FIND_FILE, 0, 0, 0, reinterpret_cast<intptr_t>(&g_search)));
    show(after);  // an ended search gives nothing more
}
