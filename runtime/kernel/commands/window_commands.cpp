// Message boxes, modal windows, closing, and the rows of list boxes.
#include "runtime/kernel/commands/kernel_commands.h"
#include "runtime/kernel/runtime.h"

namespace kernel {

namespace {

ui::WindowSystem& windows(const Arguments& a) {
    return a.runtime().windows();
}

int64_t message_box(const Arguments& a) {
    const int32_t style = a.integer(1);
    ui::MessageBoxRequest request;
    request.text = a.text(0);
    request.icon = style & ~0x0F;
    request.buttons = style & 0x0F;
    request.title = a.text(2);
    return windows(a).message_box(request);
}

int64_t load_modal(const Arguments& a) {
    windows(a).load_modal(a.window(0));
    return 0;
}

int64_t close_window(const Arguments& a) {
    windows(a).close(a.window(0));
    return 0;
}

int64_t insert_item(const Arguments& a) {
    const RtArgument unit = a.unit(0);
    return windows(a).insert_item(unit.low, unit.high, a.text(1), a.integer(2));
}

int64_t remove_item(const Arguments& a) {
    const RtArgument unit = a.unit(0);
    windows(a).remove_item(unit.low, unit.high, a.integer(1));
    return 0;
}

int64_t clear_items(const Arguments& a) {
    const RtArgument unit = a.unit(0);
    windows(a).clear_items(unit.low, unit.high);
    return 0;
}

int64_t copy_unit(const Arguments& a) {
    const RtArgument unit = a.unit(0);
    return windows(a).copy_unit(unit.low, unit.high, a.logical(1));
}

int64_t draw_text(const Arguments& a) {
    const RtArgument unit = a.unit(0);
    ui::DrawnText text;
    text.x = a.integer(1);
    text.y = a.integer(2);
    text.colour = static_cast<uint32_t>(a.integer(3)) & 0xFFFFFFu;
    text.text = a.text(4);
    windows(a).draw_text(unit.low, unit.high, text);
    return 0;
}

int64_t measure_text(const Arguments& a) {
    ui::Font font;
    font.name = a.text(0);
    font.size = a.integer(1);
    font.style = a.integer(2);
    if (font.size <= 0 || font.size > 1000)
        a.runtime().fatal("A text cannot be measured in a font of " + std::to_string(font.size) +
                          " points.");
    const ui::TextSize size = windows(a).measure_text(font, a.text(3));
    return static_cast<int64_t>(static_cast<uint32_t>(size.width)) |
           static_cast<int64_t>(static_cast<uint32_t>(size.height)) << 32;
}

constexpr KernelCommand kCommands[] = {
    {RT_KERNEL_MESSAGE_BOX, 3, false, message_box},
    {RT_KERNEL_LOAD_WINDOW_MODAL, 1, false, load_modal},
    {RT_KERNEL_CLOSE_WINDOW, 1, false, close_window},
    {RT_KERNEL_INSERT_ITEM, 3, false, insert_item},
    {RT_KERNEL_REMOVE_ITEM, 2, false, remove_item},
    {RT_KERNEL_CLEAR_ITEMS, 1, false, clear_items},
    {RT_KERNEL_COPY_UNIT, 2, false, copy_unit},
    {RT_KERNEL_DRAW_TEXT, 5, false, draw_text},
    {RT_KERNEL_MEASURE_TEXT, 4, false, measure_text},
};

}  // namespace

std::span<const KernelCommand> window_commands() {
    return kCommands;
}

}  // namespace kernel
