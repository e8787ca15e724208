// The unit gallery (see gallery.desc): every handler reports what it found as
// the text of a label, so the transcript shows it.
#include "rt/args.h"
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text_line.h"

namespace {

using Line = rt::TextLine<' '>;

int64_t address_of(const void* address) {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(address));
}

void report(uint32_t window, uint32_t label, const Line& line) {
    rt_set_property(window, label, RT_PROPERTY_TEXT, -1, address_of(line.c_str()));
}

}  // namespace

extern "C" {

// The spare face becomes the button's face.
RT_CALL void swap_face() {
    const int64_t face = rt_get_property(RT_ID(52010001), RT_ID(1601000C), RT_PROPERTY_PICTURE, -1);
    rt_set_property(RT_ID(52010001), RT_ID(1601000B), RT_PROPERTY_PICTURE, -1, face);
    rt_heap_free(reinterpret_cast<void*>(static_cast<uintptr_t>(face)));
    Line line;
    line << "换脸";
    report(RT_ID(52010001), RT_ID(16010011), line);
}

RT_CALL void label_pressed(int32_t x, int32_t y, int32_t keys) {
    Line line;
    line << "按下" << x << y << keys;
    report(RT_ID(52010001), RT_ID(16010011), line);
}

RT_CALL void open_modal() {
    auto block = rt::arguments(rt::integer(static_cast<int32_t>(RT_ID(52010002))));
    rt_kernel_command(RT_KERNEL_LOAD_WINDOW_MODAL, block.get());
    Line line;
    line << "模态结束";
    report(RT_ID(52010001), RT_ID(16010011), line);
}

// Whether the owner still takes input, as the system says.
RT_CALL void modal_created() {
    const intptr_t owner =
        static_cast<intptr_t>(rt_get_property(RT_ID(52010001), 0, RT_PROPERTY_HANDLE, -1));
    const intptr_t enabled = rt_dll_call(RT_DLL(window_enabled), 1, &owner);
    Line line;
    line << "主窗口可用" << static_cast<int32_t>(enabled != 0);
    report(RT_ID(52010002), RT_ID(16010020), line);
}

}  // extern "C"
