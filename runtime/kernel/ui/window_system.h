// The windows of the running program: loading (also modal), closing, the
// event loops, unit properties and list box rows as the program reads and
// writes them, and the actions of a person as the user interface brings them.
//
// A window's units are built from its form when it is first used — loaded, or
// read or written by the program before that — and again whenever it loads
// after having been closed. Writes to a window that is not open are kept but
// shown to no one, and run no events.
//
// Events: loading runs the window's creation (event 0 of its own record);
// closing runs RT_EVENT_WINDOW_CLOSING first. A click runs event 0 of the unit
// (a radio button is checked first). A new edit box content, typed or set by
// the program, runs RT_EVENT_CONTENT_CHANGED; a row selected by the person
// runs RT_EVENT_SELECTION_CHANGED (a selection set by the program runs none).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "runtime/kernel/ui/model.h"
#include "runtime/kernel/ui/user_interface.h"

namespace kernel::ui {

// What the window system needs of the runtime.
class Host {
  public:
    virtual ~Host() = default;
    // Calls the image routine at this offset of the code segment.
    virtual void run_handler(uint32_t code_offset) = 0;
    // The same for a handler of a mouse button (RT_EVENT_LEFT_BUTTON_DOWN):
    // the point relative to the unit and the state of the keys held.
    virtual void run_mouse_handler(uint32_t code_offset, int32_t x, int32_t y, int32_t keys) = 0;
    // A fault of the program: message (GBK), release routine, end.
    [[noreturn]] virtual void fatal(const std::string& gbk_text) = 0;
    // The script could not take the person's part: transcript line, message,
    // release routine, exit code 3.
    [[noreturn]] virtual void automation_failure(const std::string& utf8_text) = 0;
    // Nothing more will happen in the windows: the program ends (code 0).
    [[noreturn]] virtual void end_program() = 0;
    // A block of the runtime's heap, which the program releases.
    virtual void* heap_new(uint32_t size) = 0;
    // What a written property points to, checked as a command's argument
    // is: the length of the text at `text` when it lies in the program's
    // memory and ends there, the element count of the byte array at `array`
    // when it fits its heap block or the image; -1 otherwise.
    virtual int64_t text_length(const void* text) const = 0;
    virtual int64_t byte_array_length(const void* array) const = 0;
};

class WindowSystem {
  public:
    // Checks every unit's form items; the error names the window and unit.
    // `libraries` are the program's library names by list position, which
    // name the types of support libraries' units (find_unit_type).
    static Result<std::unique_ptr<WindowSystem>> create(
        const std::vector<image::Window>& forms, Host& host,
        std::span<const std::string> libraries = {});

    void set_user_interface(std::unique_ptr<UserInterface> user_interface) {
        user_interface_ = std::move(user_interface);
    }

    // ---- what the program does; its faults end it through Host::fatal ----
    void load(uint32_t window);
    // Loads the window and returns when that opening of it has been closed.
    void load_modal(uint32_t window);
    void close(uint32_t window);
    // Serves the person until no window is open.
    void serve_events();
    // A box without a title of its own gets the start window's caption.
    int32_t message_box(const MessageBoxRequest& request);
    // The folder dialog: the chosen folder's path (GBK), nullopt when none
    // was chosen.
    std::optional<std::string> choose_folder(const FolderRequest& request);
    void serve_pending();
    void show_wait_cursor(bool on);
    int64_t get_property(uint32_t window, uint32_t unit, int32_t property, int32_t index);
    void set_property(uint32_t window, uint32_t unit, int32_t property, int32_t index,
                      int64_t value);
    int32_t insert_item(uint32_t window, uint32_t unit, std::string text, int32_t row);
    void remove_item(uint32_t window, uint32_t unit, int32_t row);
    void clear_items(uint32_t window, uint32_t unit);
    // A copy of the unit (not the window's own record) with the same place,
    // properties and events, held by the original's holder or, `inside`, by
    // the original itself (its place then counts from the original's top
    // left corner); gives the copy's identifier. It is named after its
    // original: "画板1#1", "画板1#2", ...
    uint32_t copy_unit(uint32_t window, uint32_t unit, bool inside);
    // Paints a text onto a drawing board, in the board's font.
    void draw_text(uint32_t window, uint32_t unit, const DrawnText& text);
    TextSize measure_text(const Font& font, std::string_view gbk);

    // ---- what the person sees and does; the user interface has checked
    // that the person can (the unit is there, shown and enabled) ----
    // Open windows, bottom to top.
    const std::vector<uint32_t>& open_windows() const { return stack_; }
    // The window in front, null when none is open.
    WindowState* active_window();
    WindowState* window(uint32_t id);
    // Whether the person can reach the window: no modal window in front of it.
    bool reachable(uint32_t window) const;
    // Why a person cannot use the unit (UTF-8): it, a unit holding it, or its
    // window is hidden or disabled; empty when the person can.
    std::string why_unusable(WindowState& window, UnitState& unit);
    void activate(uint32_t window);
    // The left mouse button pressed at (x, y) of the unit, with these keys
    // held (bits: 1 Ctrl, 2 Shift, 4 Alt): runs RT_EVENT_LEFT_BUTTON_DOWN.
    void press(uint32_t window, uint32_t unit, int32_t x, int32_t y, int32_t keys);
    void click(uint32_t window, uint32_t unit);
    void type(uint32_t window, uint32_t unit, std::string text);
    void select(uint32_t window, uint32_t unit, int32_t row);
    void user_close(uint32_t window) { close_open(window); }
    // The person's Tab (Shift+Tab when `backwards`): the focus goes on to
    // the next unit in tab order (next_tab_stop), which the user interface
    // is told of.
    void tab(uint32_t window, bool backwards);
    // The system's focus went to the unit at `index` by other means (a
    // click, the window activated again); nothing is shown or written.
    void focus_taken(uint32_t window, size_t index);

  private:
    explicit WindowSystem(Host& host) : host_(host) {}

    WindowState& program_window(uint32_t id);
    UnitState& program_unit(WindowState& window, uint32_t unit);
    [[noreturn]] void fatal(const std::string& gbk_text) {
        host_.fatal(gbk_text);
        __builtin_unreachable();
    }
    // The caption of the start window: the window loaded first, as it is
    // now; before any loading, its form's caption (RT_START_WINDOW).
    std::string start_caption() const;
    std::string unit_label(const WindowState& window, const UnitState& unit) const;
    // Ends the program unless the unit has the property and `index` suits it.
    void check_property(WindowState& window, UnitState& unit, int32_t property, int32_t index);

    void open(WindowState& window, bool modal);
    void close_open(uint32_t window);
    void serve_one();
    void fire(uint32_t window, uint32_t unit, int32_t event);
    std::vector<uint32_t> handlers(uint32_t window, uint32_t unit, int32_t event);
    void notify(const WindowState& window, const UnitState& unit, Change change);

    void set_text(WindowState& window, UnitState& unit, std::string text);
    void set_checked(WindowState& window, UnitState& unit, bool checked);
    void set_place(WindowState& window, UnitState& unit, int32_t& field, int32_t value);
    void set_flag(WindowState& window, UnitState& unit, bool& field, bool value, Aspect aspect);
    UnitState& list_unit(WindowState& window, uint32_t unit, const char* command);

    Host& host_;
    std::unique_ptr<UserInterface> user_interface_;
    std::map<uint32_t, std::unique_ptr<WindowState>> windows_;
    std::vector<uint32_t> stack_;  // open windows, bottom to top
    uint32_t start_window_ = 0;    // the window loaded first; 0 before any
};

}  // namespace kernel::ui
