// The transcript lines of what a person sees in the windows, the same for
// every backend: a run with real windows and a headless one leave the same
// transcript.
#pragma once

#include <optional>
#include <string>

#include "runtime/kernel/automation/driver.h"
#include "runtime/kernel/ui/user_interface.h"
#include "runtime/kernel/ui/window_system.h"

namespace kernel::ui {

void write_window_opened(const WindowState& window);
void write_window_closed(const WindowState& window);
// Nothing for colours, fonts, pictures and edit box styles.
void write_unit_changed(const WindowState& window, const UnitState& unit, const Change& change);
// "unit-copy 画板1 画板1#1": a unit copied at run time.
void write_unit_copied(const UnitState& original, const UnitState& copy);
// "unit-drawn-text 画板1 140 2 #000000 \"50\"": a text painted on a drawing
// board, with its top left corner and colour.
void write_text_drawn(const UnitState& board, const DrawnText& text);
// The script has ended with these windows open.
void write_script_end(const WindowSystem& system);
// "msgbox title=... text=..." without the answer.
std::string message_box_line(const MessageBoxRequest& request);
// The script's answer to the folder dialog (nullopt: cancelled), written to
// the transcript as "folder-dialog title=... answer=..."; a script without
// one ends the run as an automation failure.
std::optional<std::string> answer_folder_dialog(automation::ScriptDriver& driver, Host& host,
                                                const FolderRequest& request);

}  // namespace kernel::ui
