// The inside of the backend with real windows, shared by its files:
//
//   win32_interface.cpp  the backend's life, window classes and procedures,
//                        the message loop
//   controls.cpp         units as controls: making them, their places,
//                        flags, texts, rows, and the model's changes
//   painting.cpp         the runtime's own control class: painting, fonts,
//                        the mouse button on it
//   message_boxes.cpp    message boxes and the scripted folder dialog
//   script_actor.cpp     the script's steps through the controls
//   pictures.*           BMP pictures drawn; PNG pictures of a window
//   browser_host.*       the embedded browser's control host
//   text.*               GBK and the wide functions
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/kernel/automation/driver.h"
#include "runtime/kernel/ui/user_interface.h"
#include "runtime/kernel/ui/window_system.h"

namespace kernel::ui::win32 {

constexpr int kFirstControlId = 1000;
constexpr wchar_t kWindowClass[] = L"WjrtWindow";
constexpr wchar_t kPanelClass[] = L"WjrtPanel";

// What a unit is on the screen.
enum class Kind {
    Window,
    Edit,
    Button,
    Radio,
    Group,
    List,
    // Drawn by the runtime (the panel class):
    Label,
    Hyperlink,
    TransparentLabel,
    PictureBox,
    Canvas,
    PictureButton,
    HtmlView,
    // Nothing on the screen (the ZIP component, unknown types).
    Invisible,
};

inline bool is_panel(Kind kind) {
    return kind >= Kind::Label && kind <= Kind::HtmlView;
}

struct UnitView {
    Kind kind = Kind::Invisible;
    HWND hwnd = nullptr;
    HFONT font = nullptr;
    HBRUSH brush = nullptr;
    bool pressed = false;  // a picture button held down
    bool hover = false;    // the mouse is over it
    // A drawing board's picture (boards.cpp): what is painted on it goes
    // here and is shown from here, so it stays when the window is covered.
    HBITMAP board = nullptr;
    HDC board_dc = nullptr;
    SIZE board_size{};
    bool board_lent = false;  // its device context is out with the program
};

struct WindowView {
    uint32_t id = 0;
    HWND hwnd = nullptr;
    HICON big_icon = nullptr;     // the program icon of the title bar and task switcher
    HICON small_icon = nullptr;   // ... and its small image
    std::vector<UnitView> units;  // as the window's units; [0] is the window itself
};

class Win32Interface final : public UserInterface, private automation::Actor {
  public:
    Win32Interface(automation::ScriptDriver driver, bool scripted, WindowSystem& system, Host& host,
                   std::vector<std::string> libraries)
        : driver_(std::move(driver)),
          scripted_(scripted),
          system_(system),
          host_(host),
          libraries_(std::move(libraries)) {
        attach(this);
        register_classes();
    }
    ~Win32Interface() override { attach(nullptr); }

    void window_opened(const WindowState& window) override;
    void window_closed(const WindowState& window) override;
    void unit_changed(const WindowState& window, const UnitState& unit,
                      const Change& change) override;
    int32_t message_box(const MessageBoxRequest& request) override;
    // Reached only under automation: without a script the image calls the
    // system's own folder dialog.
    std::optional<std::string> choose_folder(const FolderRequest& request) override;
    void serve_pending() override { pump(); }
    void show_wait_cursor(bool on) override;
    int64_t handle_of(const WindowState& window, const UnitState& unit) override;
    bool serve_one(WindowSystem& system) override;
    void unit_copied(const WindowState& window, const UnitState& original,
                     const UnitState& copy) override;
    void draw_text(const WindowState& window, const UnitState& board,
                   const DrawnText& text) override;
    TextSize measure_text(const Font& font, std::string_view gbk) override;

    // The backend in use, null when none is.
    static Win32Interface* attached();
    // The device context of a drawing board's picture when `hwnd` is a
    // board's control; null otherwise.
    HDC board_dc_of(HWND hwnd);
    // Takes back a device context that board_dc_of gave and shows what was
    // painted through it; false when `dc` is none of the boards'.
    bool board_released(HWND hwnd, HDC dc);

    LRESULT window_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT panel_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  private:
    // ---- automation::Actor: the script's steps through the controls ----
    void click(WindowSystem& system, uint32_t window, uint32_t unit) override;
    void type(WindowSystem& system, uint32_t window, uint32_t unit, std::string text) override;
    void select(WindowSystem& system, uint32_t window, uint32_t unit, int32_t row) override;
    void close(WindowSystem& system, uint32_t window) override;
    void activate(WindowSystem& system, uint32_t window) override;
    void tab(WindowSystem& system, uint32_t window, bool backwards) override;
    size_t focused(WindowSystem& system, uint32_t window) override;
    Result<void> capture(uint32_t window, const std::string& file) override;

    // The one backend the window procedures pass their messages to.
    static void attach(Win32Interface* backend);
    void register_classes();
    Kind kind_of(uint32_t type) const;
    WindowView* view(uint32_t window);
    WindowView* view_of(HWND top);
    // The unit of a control of an open window, or null.
    bool locate(HWND control, WindowView*& view, size_t& index);

    void create_unit(WindowView& view, const WindowState& window, size_t index);
    void destroy_unit(UnitView& unit);
    RECT place_of(const WindowState& window, size_t index) const;
    bool shown(const WindowState& window, size_t index) const;
    bool usable(const WindowState& window, size_t index) const;
    void apply_places(WindowView& view, const WindowState& window);
    // The units' indices from the bottom up: held units above their holder,
    // later units above earlier ones.
    std::vector<size_t> stacking_order(const WindowState& window) const;
    void apply_stacking(WindowView& view, const WindowState& window);
    void apply_flags(WindowView& view, const WindowState& window);
    void apply_colours(UnitView& unit, const Properties& p);
    void apply_font(UnitView& unit, const Properties& p);
    void set_control_text(UnitView& unit, const Properties& p);
    void fill_list(UnitView& unit, const Properties& p);
    // Windows behind a modal one take no input.
    void apply_reachability();
    // The index of the unit of `view` whose control has the system's focus,
    // 0 for none.
    size_t focused_unit(WindowView& view);
    // Tab or Shift+Tab in the window: from the unit the system's focus is
    // on (a click may have put it there) to the next in tab order. The
    // windows' stacking, which keeps later units above earlier ones, is the
    // reverse of that order, so the system's own dialog navigation, which
    // follows the stacking, is not used for it.
    void move_focus(WindowView& view, bool backwards);
    // The keys a person presses in a window that the runtime answers
    // itself; false for what goes on to the controls.
    bool take_key(const MSG& msg);
    void make_active(WindowView& view);
    void paint_panel(HWND hwnd, HDC dc);
    // The board's picture at the control's size, made (in the background
    // colour) or resized (keeping what fits) as needed; null without a
    // control.
    HDC board(UnitView& unit);
    void show_board(const UnitView& unit);
    void release_board(UnitView& unit);
    // Lets the windows catch up: painting and whatever was posted.
    void pump();

    automation::ScriptDriver driver_;
    const bool scripted_;
    bool wait_cursor_ = false;  // kept over the windows while a long task runs
    WindowSystem& system_;
    Host& host_;
    const std::vector<std::string> libraries_;
    std::map<uint32_t, std::unique_ptr<WindowView>> views_;
    // Set while the runtime itself changes a control, whose notifications
    // are then no person's doing.
    int updating_ = 0;
    bool typed_ = false;
};

}  // namespace kernel::ui::win32
