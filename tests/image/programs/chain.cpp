// Runs through the kernel library's slots: a global object released at the
// end, a text property written and read back, numbers, an empty array.
#include "rt/array.h"
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text.h"

namespace {

rt::Array<int32_t>* g_numbers;
RtArrayHeader* g_empty;

}  // namespace

extern "C" {

RT_CALL void app_initialise_globals() {
    g_numbers = new rt::Array<int32_t>(rt::Array<int32_t>::of_size(2));
}

RT_CALL void app_release_globals() {
    delete g_numbers;
    g_numbers = nullptr;
    rt_heap_free(g_empty);
    g_empty = nullptr;
    rt_set_property(RT_ID(52010001), RT_ID(16010002), RT_PROPERTY_LEFT, -1, 99);
}

RT_CALL void on_window_created() {
    const uint32_t window = RT_ID(52010001);
    const uint32_t edit = RT_ID(16010002);
    rt_set_property(window, edit, RT_PROPERTY_TEXT, -1,
                    static_cast<int64_t>(reinterpret_cast<uintptr_t>("你好")));
    rt::Text read_back =
        rt::Text::adopt(static_cast<intptr_t>(rt_get_property(window, edit, RT_PROPERTY_TEXT, -1)));
    rt_set_property(window, edit, RT_PROPERTY_VISIBLE, -1, read_back == "你好" ? 1 : 0);

    (*g_numbers)[1] = 20;
    (*g_numbers)[2] = 22;
    rt_set_property(window, edit, RT_PROPERTY_WIDTH, -1, (*g_numbers)[1] + (*g_numbers)[2]);

    rt_service(RT_SERVICE_EMPTY_ARRAY, reinterpret_cast<intptr_t>(&g_empty), 4, 0, 0);
    rt_set_property(window, edit, RT_PROPERTY_HEIGHT, -1, g_empty != nullptr ? g_empty->count : -1);
}

}  // extern "C"
