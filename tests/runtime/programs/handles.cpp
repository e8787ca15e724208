// Drives every kind of operation of rt/window.h once from the creation of
// the start window (see handles.desc).
#include "rt/program.h"
#include "rt/text.h"
#include "rt/text_line.h"
#include "units.h"

using namespace ui;

extern "C" RT_CALL void created() {
    rows().insert("丙", 0);
    rows().add("丁");
    rows().set_row(1, "戊");
    rows().remove(2);
    rows().select(1);
    second_radio().set_checked(true);
    moved().place(11, 12, 13, 14);
    moved().hide();
    box().set_enabled(false);
    box().set_text("文字");
    start_window().set_text("新标题");

    rt::TextLine<' '> line;
    rt::Text selected = rows().selected_row();
    rt::Text text = box().text();
    line << "报告" << rows().count() << rows().selection() << first_radio().checked()
         << moved().left() << moved().visible() << box().enabled();
    line << " " << selected.c_str() << text.c_str();
    report().set_text(line.c_str());
}
