#include "runtime/kernel/ui/headless.h"

#include "base/automation/transcript.h"
#include "runtime/kernel/ui/transcript_lines.h"
#include "runtime/kernel/ui/unit_handle.h"

namespace kernel::ui {

void HeadlessInterface::window_opened(const WindowState& window) {
    write_window_opened(window);
}

void HeadlessInterface::window_closed(const WindowState& window) {
    write_window_closed(window);
}

void HeadlessInterface::unit_changed(const WindowState& window, const UnitState& unit,
                                     const Change& change) {
    write_unit_changed(window, unit, change);
}

void HeadlessInterface::unit_copied(const WindowState&, const UnitState& original,
                                    const UnitState& copy) {
    write_unit_copied(original, copy);
}

void HeadlessInterface::draw_text(const WindowState&, const UnitState& board,
                                  const DrawnText& text) {
    write_text_drawn(board, text);
}

int32_t HeadlessInterface::message_box(const MessageBoxRequest& request) {
    const std::string line = message_box_line(request);
    auto answer = driver_.answer(request);
    if (answer.is_error()) {
        ::automation::append_transcript_line(line);
        host_.automation_failure(answer.error());
    }
    ::automation::append_transcript_line(line + " answer=" + answer_name(answer.value()));
    return answer.value();
}

std::optional<std::string> HeadlessInterface::choose_folder(const FolderRequest& request) {
    return answer_folder_dialog(driver_, host_, request);
}

int64_t HeadlessInterface::handle_of(const WindowState& window, const UnitState& unit) {
    return unit_handle(window.id(), static_cast<uint32_t>(&unit - window.units.data()));
}

bool HeadlessInterface::serve_one(WindowSystem& system) {
    auto performed = driver_.perform_next(system);
    if (performed.is_error())
        host_.automation_failure(performed.error());
    if (performed.value())
        return true;
    write_script_end(system);
    return false;
}

}  // namespace kernel::ui
