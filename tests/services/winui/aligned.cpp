// Reports the style bits of the boxes of aligned.desc as the system has
// them: per edit box its alignment (style & 3: 1 centre, 2 right) and scroll
// bars (1 horizontal, 2 vertical), then the list box's scroll bars.
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text_line.h"

namespace {

constexpr intptr_t kStyle = -16;  // GWL_STYLE

uint32_t style_of(uint32_t unit) {
    const intptr_t arguments[] = {
        static_cast<intptr_t>(rt_get_property(RT_ID(52010001), unit, RT_PROPERTY_HANDLE, -1)),
        kStyle};
    return static_cast<uint32_t>(rt_dll_call(RT_DLL(window_long), 2, arguments));
}

// WS_HSCROLL is bit 20, WS_VSCROLL bit 21.
int32_t bars(uint32_t style) {
    return static_cast<int32_t>((style >> 20) & 3);
}

}  // namespace

extern "C" {

RT_CALL void report_styles() {
    rt::TextLine<' '> line;
    line << "样式";
    const uint32_t edits[] = {style_of(RT_ID(16010001)), style_of(RT_ID(16010002)),
                              style_of(RT_ID(16010003))};
    for (uint32_t style : edits)
        line << static_cast<int32_t>(style & 3) << bars(style);
    line << bars(style_of(RT_ID(16010004)));
    rt_set_property(RT_ID(52010001), RT_ID(16010007), RT_PROPERTY_TEXT, -1,
                    static_cast<int64_t>(reinterpret_cast<uintptr_t>(line.c_str())));
}

}  // extern "C"
