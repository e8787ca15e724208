#include "runtime/kernel/ui/transcript_lines.h"

#include "base/automation/transcript.h"
#include "base/encoding.h"
#include "base/hex.h"
#include "contract/runtime_abi.h"
#include "runtime/kernel/ui/icon_file.h"

#include <cstdio>

namespace kernel::ui {

using ::automation::append_transcript_line;
using base::hex;

namespace {

std::string quoted(std::string_view gbk) {
    return ::automation::quote(base::gbk_to_utf8(gbk).value_or(std::string(gbk)));
}

const char* icon_name(int32_t icon) {
    switch (icon) {
        case RT_MB_ICON_ERROR:
            return "error";
        case RT_MB_ICON_INFORMATION:
            return "information";
    }
    return "none";
}

const char* buttons_name(int32_t buttons) {
    switch (buttons) {
        case RT_MB_OK_CANCEL:
            return "okcancel";
        case RT_MB_YES_NO:
            return "yesno";
    }
    return "ok";
}

}  // namespace

void write_unit_copied(const UnitState& original, const UnitState& copy) {
    if (!::automation::transcript_enabled())
        return;
    append_transcript_line("unit-copy " + display_name(original) + " " + display_name(copy));
}

void write_text_drawn(const UnitState& board, const DrawnText& text) {
    if (!::automation::transcript_enabled())
        return;
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%02X%02X%02X", text.colour & 0xFFu,
                  (text.colour >> 8) & 0xFFu, (text.colour >> 16) & 0xFFu);
    append_transcript_line("unit-drawn-text " + display_name(board) + " " + std::to_string(text.x) +
                           " " + std::to_string(text.y) + " " + colour + " " + quoted(text.text));
}

void write_window_opened(const WindowState& window) {
    if (!::automation::transcript_enabled())
        return;
    append_transcript_line("window-open " + hex(window.id()) + " " +
                           quoted(window.units.front().now.text));
}

void write_window_closed(const WindowState& window) {
    if (!::automation::transcript_enabled())
        return;
    append_transcript_line("window-close " + hex(window.id()) + " " +
                           quoted(window.units.front().now.text));
}

void write_unit_changed(const WindowState& window, const UnitState& unit, const Change& change) {
    if (!::automation::transcript_enabled())
        return;
    const bool own = &unit == &window.units.front();
    const std::string subject = own ? hex(window.id()) : display_name(unit);
    const std::string kind = own ? "window-" : "unit-";
    const Properties& p = unit.now;
    auto flag = [](bool value) { return value ? " 1" : " 0"; };
    std::string line;
    switch (change.aspect) {
        case Aspect::Text:
            line = kind + "text " + subject + " " + quoted(p.text);
            break;
        case Aspect::Visible:
            line = kind + "visible " + subject + flag(p.visible);
            break;
        case Aspect::Enabled:
            line = kind + "enabled " + subject + flag(p.enabled);
            break;
        case Aspect::Checked:
            line = kind + "checked " + subject + flag(p.checked);
            break;
        case Aspect::Place:
            line = kind + "place " + subject + " " + std::to_string(p.left) + " " +
                   std::to_string(p.top) + " " + std::to_string(p.width) + " " +
                   std::to_string(p.height);
            break;
        case Aspect::Selection:
            line = "list-select " + subject + " " + std::to_string(p.selection);
            break;
        case Aspect::ItemInserted:
            line = "list-insert " + subject + " " + std::to_string(change.row) + " " +
                   quoted(p.items[static_cast<size_t>(change.row)]);
            break;
        case Aspect::ItemRemoved:
            line = "list-remove " + subject + " " + std::to_string(change.row);
            break;
        case Aspect::ItemText:
            line = "list-item " + subject + " " + std::to_string(change.row) + " " +
                   quoted(p.items[static_cast<size_t>(change.row)]);
            break;
        case Aspect::ItemsCleared:
            line = "list-clear " + subject;
            break;
        case Aspect::Focus:
            line = "unit-focus " + subject;
            break;
        case Aspect::Icon: {
            // Its images: width x height @ bits per pixel.
            line = kind + "icon " + subject;
            auto images = read_icon_file(p.icon);
            if (images.is_error())
                return;
            for (const IconImage& image : images.value()) {
                line += ' ';
                line += std::to_string(image.width);
                line += 'x';
                line += std::to_string(image.height);
                line += '@';
                line += std::to_string(image.bits);
            }
            break;
        }
        case Aspect::Colours:
        case Aspect::Font:
        case Aspect::Picture:
        case Aspect::Style:
        case Aspect::FocusAtStart:
            return;
    }
    append_transcript_line(line);
}

void write_script_end(const WindowSystem& system) {
    std::string line = "script-end open=";
    for (size_t i = 0; i < system.open_windows().size(); ++i) {
        if (i != 0)
            line += ',';
        line += hex(system.open_windows()[i]);
    }
    append_transcript_line(line);
}

std::string message_box_line(const MessageBoxRequest& request) {
    const std::string title = base::gbk_to_utf8(request.title).value_or(request.title);
    const std::string text = base::gbk_to_utf8(request.text).value_or(request.text);
    return ::automation::message_box_line(title, icon_name(request.icon),
                                          buttons_name(request.buttons), text);
}

std::optional<std::string> answer_folder_dialog(automation::ScriptDriver& driver, Host& host,
                                                const FolderRequest& request) {
    const std::string line = "folder-dialog title=" + quoted(request.title);
    auto choice = driver.folder_choice(request.title);
    if (choice.is_error()) {
        ::automation::append_transcript_line(line);
        host.automation_failure(choice.error());
    }
    const std::optional<std::string>& path = choice.value();
    ::automation::append_transcript_line(
        line + " answer=" + (path ? quoted(*path) : std::string("cancel")));
    return path;
}

}  // namespace kernel::ui
