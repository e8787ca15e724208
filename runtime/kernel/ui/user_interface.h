// The user-interface backend: what shows the windows to a person and brings
// back what the person does. The headless backend (headless.h) keeps
// everything in the model, writes the transcript and takes the person's part
// from a script; a backend with real windows implements the same interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "contract/runtime_abi.h"
#include "runtime/kernel/ui/model.h"

namespace kernel::ui {

class WindowSystem;

// "ok", "cancel", "yes" or "no" for a message box answer (RT_MB_ANSWER_*),
// as scripts and transcripts spell them.
inline const char* answer_name(int32_t answer) {
    switch (answer) {
        case RT_MB_ANSWER_OK:
            return "ok";
        case RT_MB_ANSWER_CANCEL:
            return "cancel";
        case RT_MB_ANSWER_YES:
            return "yes";
        case RT_MB_ANSWER_NO:
            return "no";
    }
    return "?";
}

struct MessageBoxRequest {
    std::string text;     // GBK
    std::string title;    // GBK; empty for none
    int32_t icon = 0;     // RT_MB_ICON_*
    int32_t buttons = 0;  // RT_MB_OK, RT_MB_OK_CANCEL or RT_MB_YES_NO
};

// The folder dialog: the person picks a folder or cancels.
struct FolderRequest {
    std::string title;  // GBK
};

// What changed in a unit that a person sees.
enum class Aspect {
    Text,
    Visible,
    Enabled,
    Checked,
    Place,         // left, top, width or height
    Selection,     // list box
    ItemInserted,  // list box: `row` is the new row
    ItemRemoved,   // list box: `row` was removed
    ItemText,      // list box: `row` has a new text
    ItemsCleared,  // list box
    Focus,         // the person moved the keyboard focus to the unit
    Icon,          // the window, opened, shows its program icon
    // Seen but written to no transcript:
    Colours,  // text or background colour
    Font,
    Picture,
    Style,         // an edit box's read-only or multi-line
    FocusAtStart,  // the unit has the focus now that its window has opened
};

struct Change {
    Aspect aspect;
    int32_t row = -1;
};

// A one-line text's extent in pixels.
struct TextSize {
    int32_t width = 0;
    int32_t height = 0;
};

// Text measured without a screen, as character cells: the font's pixel
// height at 96 dots per inch, a single-byte character half as wide, a GBK
// double-byte character as wide as it is high.
TextSize cell_text_size(const Font& font, std::string_view gbk);

// Text painted onto a drawing board: where its top left corner goes, its
// colour (0x00BBGGRR), the text (GBK) in the board's font.
struct DrawnText {
    int32_t x = 0;
    int32_t y = 0;
    uint32_t colour = 0;
    std::string text;
};

class UserInterface {
  public:
    virtual ~UserInterface() = default;

    // A window was opened (its units as the form has them) or closed.
    virtual void window_opened(const WindowState& window) = 0;
    virtual void window_closed(const WindowState& window) = 0;
    // A unit of an open window changed; `unit` holds the new state.
    virtual void unit_changed(const WindowState& window, const UnitState& unit,
                              const Change& change) = 0;

    // A unit was copied at run time: `copy` is the window's last unit.
    virtual void unit_copied(const WindowState& /*window*/, const UnitState& /*original*/,
                             const UnitState& /*copy*/) {}
    // Paints a text onto a drawing board of an open window, which keeps it.
    virtual void draw_text(const WindowState& /*window*/, const UnitState& /*board*/,
                           const DrawnText& /*text*/) {}
    // The extent of a one-line text in the font.
    virtual TextSize measure_text(const Font& font, std::string_view gbk) {
        return cell_text_size(font, gbk);
    }

    // Shows a message box and waits for the person's answer (RT_MB_ANSWER_*).
    virtual int32_t message_box(const MessageBoxRequest& request) = 0;

    // Shows the folder dialog and waits for the person's choice: the path
    // (GBK), nullopt when the person cancelled. A backend without a dialog
    // of its own chooses nothing.
    virtual std::optional<std::string> choose_folder(const FolderRequest&) { return std::nullopt; }

    // From inside a long-running handler: handles what the system has queued
    // for the windows (painting, the person's input) and returns. A backend
    // without a queue has nothing to do.
    virtual void serve_pending() {}
    // Shows or takes away the wait cursor over the program's windows.
    virtual void show_wait_cursor(bool /*on*/) {}

    // The system's handle of an open window or of one of its units (an HWND
    // on Windows); 0 where there is none.
    virtual int64_t handle_of(const WindowState& /*window*/, const UnitState& /*unit*/) {
        return 0;
    }

    // Waits until the person does one thing, and does it through `system`'s
    // user actions. False when nothing more will come: the program is to end.
    virtual bool serve_one(WindowSystem& system) = 0;
};

}  // namespace kernel::ui
