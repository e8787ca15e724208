// The window model as a program sees it (see properties.desc): every fact is
// written as the text of the report label, one after the other.
#include "rt/args.h"
#include "rt/array.h"
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text.h"
#include "rt/text_line.h"

namespace {

// Report lines: every number behind a space.
using Line = rt::TextLine<' '>;

int64_t address_of(const void* address) {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(address));
}

uint32_t main_window() {
    return RT_ID(52010001);
}

int64_t get(uint32_t unit, int32_t property, int32_t index = -1) {
    return rt_get_property(main_window(), unit, property, index);
}

void set(uint32_t unit, int32_t property, int64_t value, int32_t index = -1) {
    rt_set_property(main_window(), unit, property, index, value);
}

rt::Text text(uint32_t window, uint32_t unit, int32_t property, int32_t index = -1) {
    return rt::Text::adopt(static_cast<intptr_t>(rt_get_property(window, unit, property, index)));
}

void report(const Line& line) {
    set(RT_ID(16010001), RT_PROPERTY_TEXT, address_of(line.c_str()));
}

int64_t list_command(int32_t command, RtArgument a, RtArgument b) {
    auto block =
        rt::arguments(rt::unit(RT_TYPE(krnln, 000F), main_window(), RT_ID(16010004)), a, b);
    return rt_kernel_command(command, block.get());
}

void window_command(int32_t command, uint32_t window) {
    auto block = rt::arguments(rt::integer(static_cast<int32_t>(window)));
    rt_kernel_command(command, block.get());
}

int32_t g_changes;

void form_values() {
    const uint32_t multi = RT_ID(16010002);
    const uint32_t single = RT_ID(16010003);
    Line font;
    font << "字体 " << text(main_window(), multi, RT_PROPERTY_FONT_NAME).c_str()
         << get(multi, RT_PROPERTY_FONT_SIZE) << get(multi, RT_PROPERTY_FONT_STYLE);
    report(font);
    Line colours;
    colours << "颜色" << get(multi, RT_PROPERTY_TEXT_COLOUR) << get(multi, RT_PROPERTY_BACK_COLOUR)
            << get(single, RT_PROPERTY_BACK_COLOUR)
            << get(RT_ID(16010001), RT_PROPERTY_BACK_COLOUR);
    report(colours);
    Line edits;
    edits << "编辑框" << get(multi, RT_PROPERTY_MULTI_LINE) << get(multi, RT_PROPERTY_READ_ONLY)
          << get(single, RT_PROPERTY_MULTI_LINE) << get(single, RT_PROPERTY_READ_ONLY);
    report(edits);
    Line list;
    list << "列表" << get(RT_ID(16010004), RT_PROPERTY_ITEM_COUNT) << " "
         << text(main_window(), RT_ID(16010004), RT_PROPERTY_ITEM, 1).c_str()
         << get(RT_ID(16010004), RT_PROPERTY_SELECTION);
    report(list);
    Line radios;
    radios << "单选" << get(RT_ID(16010006), RT_PROPERTY_CHECKED)
           << get(RT_ID(16010007), RT_PROPERTY_CHECKED)
           << get(RT_ID(16010008), RT_PROPERTY_CHECKED);
    report(radios);
    rt::Bytes picture =
        rt::Bytes::adopt(static_cast<intptr_t>(get(RT_ID(16010009), RT_PROPERTY_PICTURE)));
    rt::Bytes own = rt::Bytes::adopt(static_cast<intptr_t>(get(0, RT_PROPERTY_PICTURE)));
    Line pictures;
    pictures << "图片" << picture.count() << picture[1] << picture[2] << picture[55] << own.count();
    report(pictures);
    const uint32_t label = RT_ID(16010001);
    Line place;
    place << "位置" << get(label, RT_PROPERTY_LEFT) << get(label, RT_PROPERTY_TOP)
          << get(label, RT_PROPERTY_WIDTH) << get(label, RT_PROPERTY_HEIGHT)
          << get(label, RT_PROPERTY_VISIBLE) << get(label, RT_PROPERTY_ENABLED);
    report(place);
    Line caption;
    caption << "标题 " << text(main_window(), 0, RT_PROPERTY_TEXT).c_str() << " "
            << text(main_window(), RT_ID(06010000), RT_PROPERTY_TEXT).c_str();
    report(caption);
}

void written_values() {
    const uint32_t multi = RT_ID(16010002);
    set(multi, RT_PROPERTY_FONT_NAME, address_of("宋体"));
    set(multi, RT_PROPERTY_FONT_SIZE, 20);
    set(multi, RT_PROPERTY_FONT_STYLE, RT_FONT_ITALIC);
    set(multi, RT_PROPERTY_TEXT_COLOUR, 0x123456);
    set(multi, RT_PROPERTY_BACK_COLOUR, 0x654321);
    set(multi, RT_PROPERTY_MULTI_LINE, 0);
    Line font;
    font << "写入 " << text(main_window(), multi, RT_PROPERTY_FONT_NAME).c_str()
         << get(multi, RT_PROPERTY_FONT_SIZE) << get(multi, RT_PROPERTY_FONT_STYLE)
         << get(multi, RT_PROPERTY_TEXT_COLOUR) << get(multi, RT_PROPERTY_BACK_COLOUR)
         << get(multi, RT_PROPERTY_MULTI_LINE);
    report(font);

    // The selection stays with its row; removing the selected row leaves none.
    const int64_t first = list_command(RT_KERNEL_INSERT_ITEM, rt::text("丁"), rt::integer(0));
    const int64_t last = list_command(RT_KERNEL_INSERT_ITEM, rt::text("戊"), rt::integer(-1));
    Line inserted;
    inserted << "插入" << first << last << get(RT_ID(16010004), RT_PROPERTY_SELECTION);
    report(inserted);
    set(RT_ID(16010004), RT_PROPERTY_ITEM, address_of("己"), 4);
    auto remove = rt::arguments(rt::unit(RT_TYPE(krnln, 000F), main_window(), RT_ID(16010004)),
                                rt::integer(2));
    rt_kernel_command(RT_KERNEL_REMOVE_ITEM, remove.get());
    Line removed;
    removed << "删除" << get(RT_ID(16010004), RT_PROPERTY_ITEM_COUNT)
            << get(RT_ID(16010004), RT_PROPERTY_SELECTION) << " "
            << text(main_window(), RT_ID(16010004), RT_PROPERTY_ITEM, 3).c_str();
    report(removed);
    set(RT_ID(16010004), RT_PROPERTY_SELECTION, 0);

    // Checking a radio button unchecks the others of its group only.
    set(RT_ID(16010007), RT_PROPERTY_CHECKED, 1);
    Line radios;
    radios << "单选" << get(RT_ID(16010006), RT_PROPERTY_CHECKED)
           << get(RT_ID(16010007), RT_PROPERTY_CHECKED)
           << get(RT_ID(16010008), RT_PROPERTY_CHECKED);
    report(radios);

    rt::Bytes bytes = rt::Bytes::of_size(3);
    bytes[3] = 7;
    set(RT_ID(16010009), RT_PROPERTY_PICTURE, address_of(bytes.block()));
    rt::Bytes three =
        rt::Bytes::adopt(static_cast<intptr_t>(get(RT_ID(16010009), RT_PROPERTY_PICTURE)));
    set(RT_ID(16010009), RT_PROPERTY_PICTURE, 0);
    rt::Bytes none =
        rt::Bytes::adopt(static_cast<intptr_t>(get(RT_ID(16010009), RT_PROPERTY_PICTURE)));
    Line pictures;
    pictures << "图片" << three.count() << three[3] << none.count();
    report(pictures);

    set(RT_ID(16010001), RT_PROPERTY_LEFT, 11);
    set(RT_ID(16010001), RT_PROPERTY_VISIBLE, 0);
    set(RT_ID(16010001), RT_PROPERTY_VISIBLE, 1);
    set(0, RT_PROPERTY_TEXT, address_of("属性二"));
    // The program's own new content runs the content-change event too.
    set(RT_ID(16010003), RT_PROPERTY_TEXT, address_of("甲"));
}

// A window read and written before it loads keeps what was written; loaded
// again after a close, it starts from its form.
void second_window() {
    const uint32_t second = RT_ID(52010002);
    const uint32_t edit = RT_ID(16010020);
    Line before;
    before << "未载入 " << text(second, edit, RT_PROPERTY_TEXT).c_str();
    report(before);
    rt_set_property(second, edit, RT_PROPERTY_TEXT, -1, address_of("改过"));
    rt_load_window(second);
    Line loaded;
    loaded << "载入 " << text(second, edit, RT_PROPERTY_TEXT).c_str();
    report(loaded);
    window_command(RT_KERNEL_CLOSE_WINDOW, second);
    rt_load_window(second);
    Line again;
    again << "重载 " << text(second, edit, RT_PROPERTY_TEXT).c_str();
    report(again);
    window_command(RT_KERNEL_CLOSE_WINDOW, second);
    rt_load_window(main_window());  // already open: brought to the front
}

}  // namespace

extern "C" {

RT_CALL void created() {
    form_values();
    written_values();
    second_window();
}

RT_CALL void single_changed() {
    ++g_changes;
    Line line;
    line << "改变" << g_changes << " "
         << text(main_window(), RT_ID(16010003), RT_PROPERTY_TEXT).c_str();
    report(line);
}

RT_CALL void second_closing() {
    Line line;
    line << "关闭 " << text(RT_ID(52010002), RT_ID(16010020), RT_PROPERTY_TEXT).c_str();
    report(line);
}

RT_CALL void hide_group() {
    set(RT_ID(16010005), RT_PROPERTY_VISIBLE, 0);
}

RT_CALL void unknown_property() {
    get(RT_ID(16010010), 99);
}

RT_CALL void unknown_unit() {
    set(RT_ID(16010020), RT_PROPERTY_VISIBLE, 0);  // a unit of the other window
}

RT_CALL void foreign_property() {
    get(RT_ID(16010012), RT_PROPERTY_ITEM_COUNT);
}

RT_CALL void row_out_of_range() {
    get(RT_ID(16010004), RT_PROPERTY_ITEM, 9);
}

RT_CALL void needless_index() {
    get(RT_ID(16010003), RT_PROPERTY_VISIBLE, 0);
}

RT_CALL void close_unloaded() {
    window_command(RT_KERNEL_CLOSE_WINDOW, RT_ID(52010002));
}

RT_CALL void wrong_argument() {
    auto block = rt::arguments(rt::integer(1), rt::integer(0), rt::text(""));
    rt_kernel_command(RT_KERNEL_MESSAGE_BOX, block.get());
}

RT_CALL void unknown_window() {
    rt_load_window(0x52010009);
}

}  // extern "C"
