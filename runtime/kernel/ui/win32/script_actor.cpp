// The script's steps, taken through the controls as a person's would be.
#include "runtime/kernel/ui/win32/backend.h"
#include "runtime/kernel/ui/win32/pictures.h"
#include "runtime/kernel/ui/win32/text.h"

namespace kernel::ui::win32 {

// ---- the script's steps through the controls ----

void Win32Interface::click(WindowSystem& system, uint32_t window_id, uint32_t unit_id) {
    WindowView* v = view(window_id);
    WindowState* window = system.window(window_id);
    UnitState* unit = window->unit(unit_id);
    const auto index = static_cast<size_t>(unit - window->units.data());
    if (v == nullptr || index >= v->units.size() || v->units[index].hwnd == nullptr) {
        Actor::click(system, window_id, unit_id);
        return;
    }
    HWND hwnd = v->units[index].hwnd;
    const Kind kind = v->units[index].kind;
    if (kind == Kind::Button || kind == Kind::Radio) {
        SendMessageW(hwnd, BM_CLICK, 0, 0);
    } else if (is_panel(kind)) {
        const LPARAM middle = MAKELPARAM(unit->now.width / 2, unit->now.height / 2);
        SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, middle);
        // The press may have closed the window and the control with it.
        if (IsWindow(hwnd))
            SendMessageW(hwnd, WM_LBUTTONUP, 0, middle);
    } else {
        Actor::click(system, window_id, unit_id);
    }
}

void Win32Interface::type(WindowSystem& system, uint32_t window_id, uint32_t unit_id,
                          std::string text) {
    WindowView* v = view(window_id);
    WindowState* window = system.window(window_id);
    UnitState* unit = window->unit(unit_id);
    const auto index = static_cast<size_t>(unit - window->units.data());
    if (v == nullptr || index >= v->units.size() || v->units[index].hwnd == nullptr) {
        Actor::type(system, window_id, unit_id, std::move(text));
        return;
    }
    // A single-line edit box takes what is typed up to the first line break.
    if (!unit->now.multi_line)
        text = text.substr(0, text.find_first_of("\r\n"));
    HWND hwnd = v->units[index].hwnd;
    typed_ = false;
    SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(from_gbk(text).c_str()));
    // An edit control that kept its change to itself still had it typed.
    if (!typed_ && IsWindow(hwnd))
        system.type(window_id, unit_id, to_gbk(window_text(hwnd)));
}

void Win32Interface::select(WindowSystem& system, uint32_t window_id, uint32_t unit_id,
                            int32_t row) {
    WindowView* v = view(window_id);
    WindowState* window = system.window(window_id);
    UnitState* unit = window->unit(unit_id);
    const auto index = static_cast<size_t>(unit - window->units.data());
    if (v == nullptr || index >= v->units.size() || v->units[index].hwnd == nullptr) {
        Actor::select(system, window_id, unit_id, row);
        return;
    }
    HWND hwnd = v->units[index].hwnd;
    ++updating_;
    SendMessageW(hwnd, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
    --updating_;
    // What the list box tells its window when a person picks a row.
    SendMessageW(v->hwnd, WM_COMMAND,
                 MAKEWPARAM(static_cast<WORD>(kFirstControlId + index), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(hwnd));
}

void Win32Interface::close(WindowSystem& system, uint32_t window_id) {
    if (WindowView* v = view(window_id)) {
        SendMessageW(v->hwnd, WM_CLOSE, 0, 0);
        return;
    }
    Actor::close(system, window_id);
}

void Win32Interface::activate(WindowSystem& system, uint32_t window_id) {
    if (WindowView* v = view(window_id)) {
        SetWindowPos(v->hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetActiveWindow(v->hwnd);
    }
    system.activate(window_id);
}
// Keys go to the active window, and only the active window's thread has a
// focus: a window that another program's took the front from (the display
// is shared) is made active again first, which gives its unit the focus
// back, as a person's click on it would.
void Win32Interface::make_active(WindowView& v) {
    if (GetActiveWindow() != v.hwnd) {
        SetActiveWindow(v.hwnd);
        pump();
    }
}

void Win32Interface::tab(WindowSystem& system, uint32_t window_id, bool backwards) {
    if (WindowView* v = view(window_id)) {
        make_active(*v);
        move_focus(*v, backwards);
        return;
    }
    Actor::tab(system, window_id, backwards);
}

size_t Win32Interface::focused(WindowSystem& system, uint32_t window_id) {
    if (WindowView* v = view(window_id)) {
        make_active(*v);
        return focused_unit(*v);
    }
    return Actor::focused(system, window_id);
}

Result<void> Win32Interface::capture(uint32_t window_id, const std::string& file) {
    WindowView* v = view(window_id);
    if (v == nullptr)
        return {};
    // Everything painted first.
    for (auto& [id, open] : views_)
        RedrawWindow(open->hwnd, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pump();
    GdiFlush();

    return capture_window(v->hwnd, window_id, file);
}

}  // namespace kernel::ui::win32
