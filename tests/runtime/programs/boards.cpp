// Copies of a drawing board, text drawn on one, a gradient painted through
// its handle and texts measured (see boards.desc).
#include "rt/dll.h"
#include "rt/program.h"
#include "rt/text_line.h"
#include "rt/window.h"
#include "units.h"

using namespace ui;

namespace {

struct Vertex {  // TRIVERTEX
    int32_t x, y;
    uint16_t red, green, blue, alpha;
};
struct GradientRect {  // GRADIENT_RECT
    uint32_t upper_left, lower_right;
};

}  // namespace

extern "C" RT_CALL void created() {
    const rt::DrawingBoard inside = board().copy(true);
    inside.place(1, 1, board().width() - 2, board().height() - 2);
    inside.draw_text(3, 2, 0x0000FF, "五十");

    const intptr_t handle = inside.handle();
    const intptr_t dc = rt::call_dll(RT_DLL(get_dc), handle);
    Vertex corners[2] = {{0, 0, 0xE700, 0xF300, 0xE800, 0}, {49, 9, 0xE100, 0xDB00, 0xE100, 0}};
    GradientRect mesh = {0, 1};
    rt::call_dll(RT_DLL(gradient), dc, corners, 2, &mesh, 1, 1);
    rt::call_dll(RT_DLL(release_dc), handle, dc);

    // A second copy beside the board, held by the picture box as the board is.
    const rt::DrawingBoard beside = board().copy();

    const rt::TextExtent small = rt::measure_text("宋体", 9, 0, "50%");
    const rt::TextExtent large = rt::measure_text("", 18, RT_FONT_BOLD, "进度");
    rt::TextLine<' '> line;
    line << "报告" << static_cast<int64_t>(inside.unit_id() != board().unit_id())
         << static_cast<int64_t>(beside.unit_id() != inside.unit_id()) << inside.left()
         << inside.width() << beside.left() << beside.top() << small.width << small.height
         << large.width << large.height;
    report().set_text(line.c_str());
}

// A picture button's faces by state, read and swapped at run time: a hover
// face taken from the pressed one, the pressed one taken away.
extern "C" RT_CALL void swap_faces() {
    using State = rt::PictureButton::State;
    rt::Bytes pressed = faced().face(State::kPressed);
    faced().set_face(pressed, State::kHover);
    faced().set_face(rt::Bytes(), State::kPressed);
    rt::TextLine<' '> line;
    line << "外观" << static_cast<int64_t>(pressed.count())
         << static_cast<int64_t>(faced().face(State::kNormal).count())
         << static_cast<int64_t>(faced().face(State::kHover).count())
         << static_cast<int64_t>(faced().face(State::kPressed).count())
         << static_cast<int64_t>(faced().face(State::kDisabled).count());
    faces_report().set_text(line.c_str());
}

extern "C" RT_CALL void hide_board() {
    swap_faces();
    board().hide();
}
