#include "updater/progress_bar_platform.h"

#include "rt/dll.h"
#include "rt/window.h"

namespace updater {

namespace {

rt::DrawingBoard board(uint32_t window, uint32_t unit) {
    return rt::DrawingBoard(window, unit);
}

void size_of(uint32_t window, uint32_t unit, int32_t* width, int32_t* height) {
    *width = board(window, unit).width();
    *height = board(window, unit).height();
}

uint32_t copy_inside(uint32_t window, uint32_t canvas) {
    return board(window, canvas).copy(true).unit_id();
}

void place(uint32_t window, uint32_t unit, int32_t left, int32_t top, int32_t width,
           int32_t height) {
    board(window, unit).place(left, top, width, height);
}

void show(uint32_t window, uint32_t unit) {
    board(window, unit).show();
}

intptr_t handle_of(uint32_t window, uint32_t unit) {
    return board(window, unit).handle();
}

void font_of(uint32_t window, uint32_t unit, BarFont* font) {
    const rt::DrawingBoard b = board(window, unit);
    rt::Text face = b.font_name();
    const char* name = face.c_str();
    uint32_t at = 0;
    // The runtime's empty face is its default one, as the bar starts with.
    if (name[0] == '\0')
        name = "宋体";
    while (name[at] != '\0' && at + 1 < sizeof font->face) {
        font->face[at] = name[at];
        ++at;
    }
    font->face[at] = '\0';
    font->size = b.font_size();
    const int32_t style = b.font_style();
    font->bold = (style & RT_FONT_BOLD) != 0;
    font->italic = (style & RT_FONT_ITALIC) != 0;
    font->underline = (style & RT_FONT_UNDERLINE) != 0;
    font->strike_out = false;
    font->angle = 0;
}

int32_t style_of(const BarFont& font) {
    return (font.bold ? RT_FONT_BOLD : 0) | (font.italic ? RT_FONT_ITALIC : 0) |
           (font.underline ? RT_FONT_UNDERLINE : 0);
}

void set_font(uint32_t window, uint32_t unit, const BarFont& font) {
    board(window, unit).set_font(font.face, font.size > 0 ? font.size : 9, style_of(font));
}

void set_back_colour(uint32_t window, uint32_t unit, uint32_t colour) {
    board(window, unit).set_back_colour(colour);
}

void draw_text(uint32_t window, uint32_t unit, int32_t x, int32_t y, uint32_t colour,
               const char* text) {
    board(window, unit).draw_text(x, y, colour, text);
}

void measure_text(const BarFont& font, const char* text, int32_t* width, int32_t* height) {
    const rt::TextExtent extent =
        rt::measure_text(font.face, font.size > 0 ? font.size : 9, style_of(font), text);
    *width = extent.width;
    *height = extent.height;
}

intptr_t get_dc(intptr_t hwnd) {
    return rt::call_dll(RT_DLL(get_dc), hwnd);
}

intptr_t release_dc(intptr_t hwnd, intptr_t dc) {
    return rt::call_dll(RT_DLL(release_dc), hwnd, dc);
}

intptr_t create_round_rect_region(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                  int32_t corner_width, int32_t corner_height) {
    return rt::call_dll(RT_DLL(round_region), left, top, right, bottom, corner_width,
                        corner_height);
}

intptr_t set_window_region(intptr_t hwnd, intptr_t region, bool redraw) {
    return rt::call_dll(RT_DLL(window_region), hwnd, region, redraw ? 1 : 0);
}

intptr_t gradient_fill(intptr_t dc, const BarVertex* vertices, uint32_t vertex_count,
                       const BarGradientRect* rectangles, uint32_t rectangle_count, uint32_t mode) {
    return rt::call_dll(RT_DLL(gradient_fill), dc, vertices, vertex_count, rectangles,
                        rectangle_count, mode);
}

const BarPlatform kPlatform = {
    size_of,
    copy_inside,
    place,
    show,
    handle_of,
    font_of,
    set_font,
    set_back_colour,
    draw_text,
    measure_text,
    get_dc,
    release_dc,
    create_round_rect_region,
    set_window_region,
    gradient_fill,
};

}  // namespace

const BarPlatform& window_bar_platform() {
    return kPlatform;
}

}  // namespace updater
