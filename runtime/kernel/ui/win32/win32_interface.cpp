#include "runtime/kernel/ui/win32/win32_interface.h"

#include <cwchar>

#include "runtime/kernel/ui/transcript_lines.h"
#include "runtime/kernel/ui/win32/backend.h"
#include "runtime/kernel/ui/win32/pictures.h"
#include "runtime/kernel/ui/win32/text.h"

namespace kernel::ui {

namespace win32 {

namespace {

Win32Interface* g_interface = nullptr;

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (g_interface != nullptr)
        return g_interface->window_message(hwnd, message, wparam, lparam);
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK panel_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (g_interface != nullptr)
        return g_interface->panel_message(hwnd, message, wparam, lparam);
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

void Win32Interface::attach(Win32Interface* backend) {
    g_interface = backend;
}

Win32Interface* Win32Interface::attached() {
    return g_interface;
}

void Win32Interface::register_classes() {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    window_class.lpszClassName = kWindowClass;
    RegisterClassExW(&window_class);

    WNDCLASSEXW panel_class{};
    panel_class.cbSize = sizeof panel_class;
    panel_class.style = CS_HREDRAW | CS_VREDRAW;
    panel_class.lpfnWndProc = panel_procedure;
    panel_class.hInstance = GetModuleHandleW(nullptr);
    panel_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    panel_class.lpszClassName = kPanelClass;
    RegisterClassExW(&panel_class);
}

WindowView* Win32Interface::view(uint32_t window) {
    auto found = views_.find(window);
    return found != views_.end() ? found->second.get() : nullptr;
}

WindowView* Win32Interface::view_of(HWND top) {
    return reinterpret_cast<WindowView*>(GetWindowLongPtrW(top, GWLP_USERDATA));
}

bool Win32Interface::locate(HWND control, WindowView*& found, size_t& index) {
    found = view_of(GetParent(control));
    if (found == nullptr)
        return false;
    const int id = GetDlgCtrlID(control) - kFirstControlId;
    if (id <= 0 || static_cast<size_t>(id) >= found->units.size() ||
        found->units[static_cast<size_t>(id)].hwnd != control)
        return false;
    index = static_cast<size_t>(id);
    return true;
}

// ---- the person's part ----

void Win32Interface::show_wait_cursor(bool on) {
    wait_cursor_ = on;
    SetCursor(LoadCursor(nullptr, on ? IDC_WAIT : IDC_ARROW));
}

void Win32Interface::pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

size_t Win32Interface::focused_unit(WindowView& v) {
    WindowView* owner = nullptr;
    size_t index = 0;
    return locate(GetFocus(), owner, index) && owner == &v ? index : 0;
}

void Win32Interface::move_focus(WindowView& v, bool backwards) {
    if (const size_t at = focused_unit(v); at != 0)
        system_.focus_taken(v.id, at);
    system_.tab(v.id, backwards);
}

bool Win32Interface::take_key(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || (msg.wParam != VK_TAB && msg.wParam != VK_SPACE))
        return false;
    HWND top = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    wchar_t class_name[16] = {};
    if (top == nullptr || GetClassNameW(top, class_name, 16) == 0 ||
        std::wcscmp(class_name, kWindowClass) != 0)
        return false;  // a message box, the folder dialog: the system's own keys
    WindowView* v = view_of(top);
    if (v == nullptr)
        return false;
    if (msg.wParam == VK_TAB) {
        move_focus(*v, (GetKeyState(VK_SHIFT) & 0x8000) != 0);
        return true;
    }
    // The space bar on a picture button, as on any button: a click, once
    // however long the key is held (bit 30: it was down already).
    if ((msg.lParam & (1 << 30)) != 0)
        return false;
    WindowView* owner = nullptr;
    size_t index = 0;
    if (!locate(msg.hwnd, owner, index) || owner != v ||
        v->units[index].kind != Kind::PictureButton)
        return false;
    WindowState* window = system_.window(v->id);
    if (window != nullptr && window->open && index < window->units.size() &&
        within_reach(*window, window->units[index]))
        system_.click(v->id, window->units[index].id());
    return true;
}

bool Win32Interface::serve_one(WindowSystem& system) {
    if (!scripted_) {
        MSG msg;
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0)
            return false;
        if (take_key(msg))
            return true;
        // The arrow keys move between the units of a window.
        HWND top = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
        wchar_t class_name[16] = {};
        if (top != nullptr && GetClassNameW(top, class_name, 16) > 0 &&
            std::wcscmp(class_name, kWindowClass) == 0 && IsDialogMessageW(top, &msg))
            return true;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        return true;
    }
    pump();
    auto performed = driver_.perform_next(system, *this);
    if (performed.is_error())
        host_.automation_failure(performed.error());
    if (performed.value())
        return true;
    write_script_end(system);
    return false;
}

LRESULT Win32Interface::window_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    WindowView* v = view_of(hwnd);
    if (v == nullptr)
        return DefWindowProcW(hwnd, message, wparam, lparam);
    const uint32_t window_id = v->id;
    WindowState* window = system_.window(window_id);
    if (window == nullptr || !window->open)
        return DefWindowProcW(hwnd, message, wparam, lparam);
    switch (message) {
        case WM_CLOSE:
            system_.user_close(window_id);
            return 0;
        case WM_SETCURSOR:
            // Units pass the question on to their window: one answer for all.
            if (wait_cursor_) {
                SetCursor(LoadCursor(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_ACTIVATE: {
            // Under a script, the script alone says which window is in front.
            if (!scripted_ && LOWORD(wparam) != WA_INACTIVE)
                system_.activate(window_id);
            // As a dialog does: the unit that had the focus when the window
            // went to the back has it again when it comes to the front (the
            // system would give it to the window itself).
            if (LOWORD(wparam) == WA_INACTIVE) {
                if (const size_t at = focused_unit(*v); at != 0)
                    system_.focus_taken(window_id, at);
                break;
            }
            const size_t at = window->focus;
            if (HIWORD(wparam) == 0 && at != 0 && at < v->units.size() &&
                v->units[at].hwnd != nullptr && IsWindowVisible(v->units[at].hwnd) &&
                IsWindowEnabled(v->units[at].hwnd)) {
                SetFocus(v->units[at].hwnd);
                return 0;
            }
            break;
        }
        case WM_ERASEBKGND: {
            RECT client;
            GetClientRect(hwnd, &client);
            HDC dc = reinterpret_cast<HDC>(wparam);
            FillRect(dc, &client, v->units.front().brush);
            draw_picture(dc, window->units.front().now.picture, 0, 0);
            return 1;
        }
        case WM_COMMAND: {
            const int id = LOWORD(wparam) - kFirstControlId;
            if (lparam == 0 || id <= 0 || static_cast<size_t>(id) >= v->units.size() ||
                updating_ != 0)
                break;
            const auto index = static_cast<size_t>(id);
            const uint32_t unit_id = window->units[index].id();
            const Kind kind = v->units[index].kind;
            HWND control = reinterpret_cast<HWND>(lparam);
            switch (HIWORD(wparam)) {
                case BN_CLICKED:
                    if (kind == Kind::Button || kind == Kind::Radio)
                        system_.click(window_id, unit_id);
                    return 0;
                case EN_CHANGE:
                    if (kind == Kind::Edit) {
                        typed_ = true;
                        system_.type(window_id, unit_id, to_gbk(window_text(control)));
                    }
                    return 0;
                case LBN_SELCHANGE:
                    if (kind == Kind::List) {
                        const auto row =
                            static_cast<int32_t>(SendMessageW(control, LB_GETCURSEL, 0, 0));
                        if (row >= 0)
                            system_.select(window_id, unit_id, row);
                    }
                    return 0;
            }
            break;
        }
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN: {
            WindowView* owner = nullptr;
            size_t index = 0;
            if (!locate(reinterpret_cast<HWND>(lparam), owner, index) || owner != v)
                break;
            const Properties& p = window->units[index].now;
            HDC dc = reinterpret_cast<HDC>(wparam);
            SetTextColor(dc, p.text_colour);
            SetBkColor(dc, p.back_colour);
            return reinterpret_cast<LRESULT>(v->units[index].brush);
        }
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}
}  // namespace win32

std::unique_ptr<UserInterface> make_win32_interface(automation::ScriptDriver driver, bool scripted,
                                                    WindowSystem& system, Host& host,
                                                    std::vector<std::string> libraries) {
    return std::make_unique<win32::Win32Interface>(std::move(driver), scripted, system, host,
                                                   std::move(libraries));
}

}  // namespace kernel::ui
