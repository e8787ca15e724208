// The program of shell.desc: each button runs one group of shell functions
// and writes what came back into 标签_结果 (or the chosen folder into
// 编辑框_目录).
#include <stddef.h>
#include <stdint.h>

#include "rt/markers.h"
#include "rt/shortcut.h"
#include "rt/slots.h"
#include "rt/system.h"
#include "rt/text.h"
#include "rt/text_line.h"

namespace {

int64_t address_of(const void* p) {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(p));
}

void set_text(uint32_t unit, const char* text) {
    rt_set_property(RT_ID(52010001), unit, RT_PROPERTY_TEXT, -1, address_of(text));
}

void report(const char* text) {
    set_text(RT_ID(16010001), text);
}

intptr_t call(uint32_t declaration, intptr_t a = 0, intptr_t b = 0, intptr_t c = 0, intptr_t d = 0,
              intptr_t e = 0, intptr_t f = 0) {
    const intptr_t arguments[6] = {a, b, c, d, e, f};
    return rt_dll_call(static_cast<int32_t>(declaration), 6, arguments);
}

// The system's records.
struct BrowseInfo {
    intptr_t owner;
    intptr_t root;
    char* display_name;
    const char* title;
    uint32_t flags;
    intptr_t callback;
    intptr_t parameter;
    int32_t image;
};
struct Vertex {
    int32_t x, y;
    uint16_t red, green, blue, alpha;
};
struct GradientRect {
    uint32_t upper_left, lower_right;
};
struct Rect {
    int32_t left, top, right, bottom;
};

size_t length(const char* text) {
    size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

// The folder dialog: the chosen folder, a drive root as its two characters,
// "\\" and the name of a computer of the network, or empty when nothing
// usable was chosen (cancelled, or a name the ANSI code page cannot hold).
void browse_folder(const char* title, char* result) {
    result[0] = '\0';
    const intptr_t owner =
        static_cast<intptr_t>(rt_get_property(RT_ID(52010001), 0, RT_PROPERTY_HANDLE, -1));
    intptr_t root = 0;
    call(RT_DLL(folder_location), owner, 0, 0, 0, reinterpret_cast<intptr_t>(&root));
    char name[260] = {};
    BrowseInfo info = {owner, root, name, title, 0x77, 0, 0, 0};
    const intptr_t item = call(RT_DLL(browse), reinterpret_cast<intptr_t>(&info));

    const char* start = name;
    while (*start == ' ')
        ++start;
    size_t n = length(start);
    while (n > 0 && start[n - 1] == ' ')
        --n;
    bool question = false;
    for (size_t i = 0; i < n; ++i)
        question = question || start[i] == '?';

    if (!question && item != 0) {
        char path[260] = {};
        if (call(RT_DLL(path_of), item, reinterpret_cast<intptr_t>(path)) != 0) {
            const size_t keep = length(path) == 3 ? 2 : length(path);
            for (size_t i = 0; i < keep; ++i)
                result[i] = path[i];
            result[keep] = '\0';
        }
    } else if (!question && n > 0) {
        result[0] = '\\';
        result[1] = '\\';
        for (size_t i = 0; i < n; ++i)
            result[2 + i] = start[i];
        result[2 + n] = '\0';
    }
    call(RT_DLL(free_ids), item);
    call(RT_DLL(free_ids), root);
}

RT_WINDOW_PROCEDURE intptr_t report_call(intptr_t a, uint32_t b, uintptr_t c, intptr_t d) {
    rt::TextLine<' '> line;
    line << "回调" << static_cast<int64_t>(a) << static_cast<int64_t>(b) << static_cast<int64_t>(c)
         << static_cast<int64_t>(d);
    report(line.c_str());
    return a + b + static_cast<intptr_t>(c) + d;
}

}  // namespace

extern "C" {

RT_CALL void choose_folder() {
    char folder[600];
    browse_folder("请选择发布程序所在文件夹！", folder);
    set_text(RT_ID(16010002), folder);
}

RT_CALL void call_back() {
    const intptr_t procedure = reinterpret_cast<intptr_t>(&report_call);
    const intptr_t first = call(RT_DLL(call_proc), procedure, 7, 8, 9, -10);
    const intptr_t second = call(RT_DLL(call_proc_dll), procedure, intptr_t{1} << 32, 1, 2, 3);
    const intptr_t none = call(RT_DLL(call_proc), 0, 1, 2, 3, 4);
    rt::TextLine<' '> line;
    line << "回调结果" << static_cast<int64_t>(first) << static_cast<int64_t>(second)
         << static_cast<int64_t>(none);
    report(line.c_str());
}

RT_CALL void draw() {
    const uint32_t canvas = RT_ID(16010005);
    const intptr_t handle =
        static_cast<intptr_t>(rt_get_property(RT_ID(52010001), canvas, RT_PROPERTY_HANDLE, -1));
    const int32_t w =
        static_cast<int32_t>(rt_get_property(RT_ID(52010001), canvas, RT_PROPERTY_WIDTH, -1));
    const int32_t h =
        static_cast<int32_t>(rt_get_property(RT_ID(52010001), canvas, RT_PROPERTY_HEIGHT, -1));

    Rect rect = {};
    const intptr_t rect_set = call(RT_DLL(set_rect), reinterpret_cast<intptr_t>(&rect), 1, 2, w, h);
    const intptr_t region = call(RT_DLL(round_region), 0, 0, w, h, 5, 5);
    const intptr_t shaped = call(RT_DLL(window_region), handle, region, 1);

    const intptr_t dc = call(RT_DLL(get_dc), handle);
    Vertex top[2] = {{0, 0, 0xE700, 0xF300, 0xE800, 0},
                     {rect.right / 2, rect.bottom / 2, 0xE100, 0xDB00, 0xE100, 0}};
    Vertex bottom[2] = {{0, h / 2, 0x1A00, 0xE400, 0x1A00, 0}, {w, h, 0xD900, 0xF400, 0xD900, 0}};
    GradientRect mesh = {0, 1};
    const intptr_t upper = call(RT_DLL(gradient), dc, reinterpret_cast<intptr_t>(top), 2,
                                reinterpret_cast<intptr_t>(&mesh), 1, 1);
    const intptr_t lower = call(RT_DLL(gradient), dc, reinterpret_cast<intptr_t>(bottom), 2,
                                reinterpret_cast<intptr_t>(&mesh), 1, 0);
    const intptr_t triangle = call(RT_DLL(gradient), dc, reinterpret_cast<intptr_t>(top), 2,
                                   reinterpret_cast<intptr_t>(&mesh), 1, 2);
    const intptr_t released = call(RT_DLL(release_dc), handle, dc);
    const intptr_t again = call(RT_DLL(release_dc), handle, dc);
    const intptr_t nowhere = call(RT_DLL(get_dc), 12345);

    rt::TextLine<' '> line;
    line << "绘制" << static_cast<int64_t>(rect_set) << rect.left << rect.top << rect.right
         << rect.bottom << static_cast<int64_t>(region != 0) << static_cast<int64_t>(shaped != 0)
         << static_cast<int64_t>(dc != 0) << static_cast<int64_t>(upper)
         << static_cast<int64_t>(lower) << static_cast<int64_t>(triangle)
         << static_cast<int64_t>(released) << static_cast<int64_t>(again)
         << static_cast<int64_t>(nowhere);
    report(line.c_str());
}

RT_CALL void make_shortcut() {
    rt::Text path = rt::Text::adopt(static_cast<intptr_t>(
        rt_get_property(RT_ID(52010001), RT_ID(16010007), RT_PROPERTY_TEXT, -1)));
    rt::Text target = rt::Text::adopt(static_cast<intptr_t>(
        rt_get_property(RT_ID(52010001), RT_ID(16010008), RT_PROPERTY_TEXT, -1)));
    const bool written =
        rt::write_shortcut(path.c_str(), target.c_str(), "星河\r\n星河", "C:\\游戏\\");
    report(written ? "快捷方式 1" : "快捷方式 0");
}

}  // extern "C"
