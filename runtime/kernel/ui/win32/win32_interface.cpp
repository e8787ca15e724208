#include "runtime/kernel/ui/win32/win32_interface.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>

#include "common/automation/transcript.h"
#include "common/base/byte_reader.h"
#include "common/base/encoding.h"
#include "common/base/hex.h"
#include "runtime/contract/runtime_abi.h"
#include "runtime/kernel/ui/transcript_lines.h"
#include "runtime/kernel/ui/win32/png_writer.h"

namespace kernel::ui {

namespace {

using base::fail;

constexpr int kFirstControlId = 1000;
constexpr wchar_t kWindowClass[] = L"WjrtWindow";
constexpr wchar_t kPanelClass[] = L"WjrtPanel";
// 宋体, the face of units that name none.
constexpr wchar_t kDefaultFace[] = L"\u5B8B\u4F53";

std::wstring from_gbk(std::string_view gbk) {
    return base::gbk_to_wide_replacing(gbk);
}

std::string to_gbk(std::wstring_view text) {
    return base::wide_to_gbk_replacing(text);
}

std::wstring window_text(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

// Edit controls break lines at CR LF only.
std::wstring with_crlf(std::wstring_view text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            out += L'\r';
        out += text[i];
    }
    return out;
}

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

bool is_panel(Kind kind) {
    return kind >= Kind::Label && kind <= Kind::HtmlView;
}

// A device-independent bitmap inside a BMP file's bytes; empty when the
// bytes are no uncompressed BMP that they hold whole.
struct Dib {
    const BITMAPINFO* info = nullptr;
    const uint8_t* bits = nullptr;
    int32_t width = 0, height = 0;
};

Dib read_bmp(const std::vector<uint8_t>& bytes) {
    base::ByteView view(bytes);
    auto magic = view.u16(0);
    auto bits_at = view.u32(10);
    auto header_size = view.u32(14);
    if (!magic || *magic != 0x4D42 || !bits_at || !header_size || *header_size < 40 ||
        !view.slice(14, *header_size))
        return {};
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes.data() + 14, sizeof header);
    if (header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN ||
        header.biPlanes != 1 ||
        (header.biCompression != BI_RGB && header.biCompression != BI_BITFIELDS))
        return {};
    const uint64_t stride =
        (static_cast<uint64_t>(header.biWidth) * header.biBitCount + 31) / 32 * 4;
    const uint64_t rows = static_cast<uint64_t>(std::abs(header.biHeight));
    uint64_t palette = 0;
    if (header.biBitCount <= 8)
        palette = (header.biClrUsed != 0 ? header.biClrUsed : 1u << header.biBitCount) * 4;
    else if (header.biCompression == BI_BITFIELDS && *header_size == 40)
        palette = 12;
    if (stride == 0 || stride * rows > bytes.size() || !view.slice(*bits_at, stride * rows) ||
        !view.slice(14, *header_size + palette))
        return {};
    return {reinterpret_cast<const BITMAPINFO*>(bytes.data() + 14), bytes.data() + *bits_at,
            header.biWidth, static_cast<int32_t>(rows)};
}

void draw_picture(HDC dc, const std::vector<uint8_t>& picture, int x, int y) {
    const Dib dib = read_bmp(picture);
    if (dib.info == nullptr)
        return;
    StretchDIBits(dc, x, y, dib.width, dib.height, 0, 0, dib.width, dib.height, dib.bits, dib.info,
                  DIB_RGB_COLORS, SRCCOPY);
}

HFONT make_font(const Font& font, bool underline) {
    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(font.size, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    const std::wstring face = font.name.empty() ? std::wstring(kDefaultFace) : from_gbk(font.name);
    return CreateFontW(height, 0, 0, 0, (font.style & RT_FONT_BOLD) != 0 ? FW_BOLD : FW_NORMAL,
                       (font.style & RT_FONT_ITALIC) != 0,
                       underline || (font.style & RT_FONT_UNDERLINE) != 0, FALSE, GB2312_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

// The system's control host of the embedded browser: a window of the class
// "AtlAxWin" whose text is an address shows that page. Null where the
// system has none.
const wchar_t* browser_class() {
    static const wchar_t* name = []() -> const wchar_t* {
        HMODULE atl = LoadLibraryW(L"atl.dll");
        if (atl == nullptr)
            return nullptr;
        using Init = BOOL(WINAPI*)();
        auto init = reinterpret_cast<Init>(
            reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxWinInit")));
        if (init == nullptr || OleInitialize(nullptr) < 0 || !init())
            return nullptr;
        return L"AtlAxWin";
    }();
    return name;
}

int32_t key_state(WPARAM flags) {
    int32_t keys = 0;
    if ((flags & MK_CONTROL) != 0)
        keys |= 1;
    if ((flags & MK_SHIFT) != 0)
        keys |= 2;
    if (GetKeyState(VK_MENU) < 0)
        keys |= 4;
    return keys;
}

struct UnitView {
    Kind kind = Kind::Invisible;
    HWND hwnd = nullptr;
    HFONT font = nullptr;
    HBRUSH brush = nullptr;
    bool pressed = false;  // a picture button held down
};

struct WindowView {
    uint32_t id = 0;
    HWND hwnd = nullptr;
    std::vector<UnitView> units;  // as the window's units; [0] is the window itself
};

class Win32Interface;
Win32Interface* g_interface = nullptr;

class Win32Interface final : public UserInterface, private automation::Actor {
  public:
    Win32Interface(automation::ScriptDriver driver, bool scripted, WindowSystem& system, Host& host,
                   std::vector<std::string> libraries)
        : driver_(std::move(driver)),
          scripted_(scripted),
          system_(system),
          host_(host),
          libraries_(std::move(libraries)) {
        g_interface = this;
        register_classes();
    }
    ~Win32Interface() override { g_interface = nullptr; }

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

    LRESULT window_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT panel_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  private:
    // ---- automation::Actor: the script's steps through the controls ----
    void click(WindowSystem& system, uint32_t window, uint32_t unit) override;
    void type(WindowSystem& system, uint32_t window, uint32_t unit, std::string text) override;
    void select(WindowSystem& system, uint32_t window, uint32_t unit, int32_t row) override;
    void close(WindowSystem& system, uint32_t window) override;
    void activate(WindowSystem& system, uint32_t window) override;
    Result<void> capture(uint32_t window, const std::string& file) override;

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
    void apply_flags(WindowView& view, const WindowState& window);
    void apply_colours(UnitView& unit, const Properties& p);
    void apply_font(UnitView& unit, const Properties& p);
    void set_control_text(UnitView& unit, const Properties& p);
    void fill_list(UnitView& unit, const Properties& p);
    // Windows behind a modal one take no input.
    void apply_reachability();
    void paint_panel(HWND hwnd, HDC dc);
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

Kind Win32Interface::kind_of(uint32_t type) const {
#define RT_SHOWN_AS_(constant, name, library, number, facets, shown) Kind::shown,
    static constexpr Kind kShown[] = {RT_UNIT_TYPE_TABLE(RT_SHOWN_AS_)};
#undef RT_SHOWN_AS_
    const RtUnitTypeRow* row = find_unit_type(type, libraries_);
    return row != nullptr ? kShown[rt_unit_type_index(row->library, row->number)] : Kind::Invisible;
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

// ---- places and flags: units lie flat on their window, so a unit's place
// is its own plus those of the units holding it ----

RECT Win32Interface::place_of(const WindowState& window, size_t index) const {
    const Properties& p = window.units[index].now;
    RECT rect{p.left, p.top, p.left + p.width, p.top + p.height};
    const UnitState* holder = window.parent_of(window.units[index]);
    for (int depth = 0; holder != nullptr && depth < 64; ++depth) {
        OffsetRect(&rect, holder->now.left, holder->now.top);
        holder = window.parent_of(*holder);
    }
    return rect;
}

bool Win32Interface::shown(const WindowState& window, size_t index) const {
    const UnitState* at = &window.units[index];
    for (int depth = 0; at != nullptr && depth < 64; ++depth) {
        if (!at->now.visible)
            return false;
        at = window.parent_of(*at);
    }
    return true;
}

bool Win32Interface::usable(const WindowState& window, size_t index) const {
    const UnitState* at = &window.units[index];
    for (int depth = 0; at != nullptr && depth < 64; ++depth) {
        if (!at->now.enabled)
            return false;
        at = window.parent_of(*at);
    }
    return true;
}

void Win32Interface::apply_places(WindowView& view, const WindowState& window) {
    const Properties& own = window.units.front().now;
    SetWindowPos(view.hwnd, nullptr, 0, 0, own.width, own.height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (size_t i = 1; i < view.units.size(); ++i) {
        if (view.units[i].hwnd == nullptr)
            continue;
        const RECT r = place_of(window, i);
        MoveWindow(view.units[i].hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    }
}

void Win32Interface::apply_flags(WindowView& view, const WindowState& window) {
    for (size_t i = 1; i < view.units.size(); ++i) {
        HWND hwnd = view.units[i].hwnd;
        if (hwnd == nullptr)
            continue;
        ShowWindow(hwnd, shown(window, i) ? SW_SHOWNA : SW_HIDE);
        EnableWindow(hwnd, usable(window, i));
    }
    const Properties& own = window.units.front().now;
    ShowWindow(view.hwnd, own.visible ? SW_SHOW : SW_HIDE);
    apply_reachability();
}

void Win32Interface::apply_reachability() {
    for (auto& [id, view] : views_) {
        const WindowState* window = system_.window(id);
        const bool enabled =
            window != nullptr && window->units.front().now.enabled && system_.reachable(id);
        EnableWindow(view->hwnd, enabled);
    }
}

void Win32Interface::apply_colours(UnitView& unit, const Properties& p) {
    if (unit.brush != nullptr)
        DeleteObject(unit.brush);
    unit.brush = CreateSolidBrush(p.back_colour);
}

void Win32Interface::apply_font(UnitView& unit, const Properties& p) {
    HFONT old = unit.font;
    unit.font = make_font(p.font, unit.kind == Kind::Hyperlink);
    if (unit.hwnd != nullptr && unit.kind != Kind::Window)
        SendMessageW(unit.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(unit.font), TRUE);
    if (old != nullptr)
        DeleteObject(old);
}

void Win32Interface::set_control_text(UnitView& unit, const Properties& p) {
    if (unit.hwnd == nullptr)
        return;
    if (is_panel(unit.kind)) {
        InvalidateRect(unit.hwnd, nullptr, TRUE);
        return;
    }
    const std::wstring text =
        unit.kind == Kind::Edit ? with_crlf(from_gbk(p.text)) : from_gbk(p.text);
    // A person's typing that the model took as it is needs no echo.
    if (window_text(unit.hwnd) == text)
        return;
    ++updating_;
    SetWindowTextW(unit.hwnd, text.c_str());
    --updating_;
}

void Win32Interface::fill_list(UnitView& unit, const Properties& p) {
    ++updating_;
    SendMessageW(unit.hwnd, LB_RESETCONTENT, 0, 0);
    for (const std::string& item : p.items)
        SendMessageW(unit.hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(from_gbk(item).c_str()));
    SendMessageW(unit.hwnd, LB_SETCURSEL, static_cast<WPARAM>(p.selection), 0);
    --updating_;
}

void Win32Interface::create_unit(WindowView& view, const WindowState& window, size_t index) {
    UnitView& unit = view.units[index];
    const Properties& p = window.units[index].now;
    apply_colours(unit, p);
    if (unit.kind == Kind::Invisible)
        return;
    apply_font(unit, p);
    const RECT r = place_of(window, index);
    const wchar_t* class_name = kPanelClass;
    DWORD style = WS_CHILD;
    DWORD ex_style = 0;
    std::wstring text = from_gbk(p.text);
    switch (unit.kind) {
        case Kind::Edit:
            class_name = L"EDIT";
            ex_style = WS_EX_CLIENTEDGE;
            style |= WS_TABSTOP | ES_AUTOHSCROLL;
            if (p.multi_line) {
                style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL;
                style &= ~static_cast<DWORD>(ES_AUTOHSCROLL);
            }
            if (p.read_only)
                style |= ES_READONLY;
            text = with_crlf(text);
            break;
        case Kind::Button:
            class_name = L"BUTTON";
            style |= WS_TABSTOP | BS_PUSHBUTTON;
            break;
        case Kind::Radio:
            class_name = L"BUTTON";
            style |= WS_TABSTOP | BS_RADIOBUTTON;
            break;
        case Kind::Group:
            class_name = L"BUTTON";
            style |= BS_GROUPBOX;
            break;
        case Kind::List:
            class_name = L"LISTBOX";
            ex_style = WS_EX_CLIENTEDGE;
            style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
            text.clear();
            break;
        case Kind::TransparentLabel:
            // Drawn after what lies below it, and without a background.
            ex_style = WS_EX_TRANSPARENT;
            break;
        case Kind::HtmlView:
            // The page in the system's browser; without an address or a
            // browser, a blank panel.
            if (!p.text.empty() && browser_class() != nullptr)
                class_name = browser_class();
            break;
        default:
            break;
    }
    ++updating_;
    unit.hwnd =
        CreateWindowExW(ex_style, class_name, text.c_str(), style, r.left, r.top, r.right - r.left,
                        r.bottom - r.top, view.hwnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + index)),
                        GetModuleHandleW(nullptr), nullptr);
    --updating_;
    if (unit.hwnd == nullptr)
        return;
    SendMessageW(unit.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(unit.font), FALSE);
    // Later units of the form lie above earlier ones.
    SetWindowPos(unit.hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (unit.kind == Kind::List)
        fill_list(unit, p);
    if (unit.kind == Kind::Radio)
        SendMessageW(unit.hwnd, BM_SETCHECK, p.checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32Interface::destroy_unit(UnitView& unit) {
    if (unit.hwnd != nullptr)
        DestroyWindow(unit.hwnd);
    if (unit.font != nullptr)
        DeleteObject(unit.font);
    if (unit.brush != nullptr)
        DeleteObject(unit.brush);
    unit = UnitView{unit.kind};
}

// ---- what the window system shows ----

void Win32Interface::window_opened(const WindowState& window) {
    write_window_opened(window);
    auto owned = std::make_unique<WindowView>();
    WindowView& v = *owned;
    v.id = window.id();
    for (const UnitState& unit : window.units)
        v.units.push_back(UnitView{kind_of(unit.type())});
    v.units.front().kind = Kind::Window;

    const Properties& own = window.units.front().now;
    // A modal window stays above the window it was opened from.
    HWND owner = nullptr;
    if (window.modal && system_.open_windows().size() >= 2) {
        if (WindowView* below = view(system_.open_windows()[system_.open_windows().size() - 2]))
            owner = below->hwnd;
    }
    // Where the form puts it, or in the middle of the screen.
    int x = own.left, y = own.top;
    if (x == 0 && y == 0) {
        x = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - own.width) / 2);
        y = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - own.height) / 2);
    }
    ++updating_;
    v.hwnd =
        CreateWindowExW(0, kWindowClass, from_gbk(own.text).c_str(),
                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, x, y, own.width,
                        own.height, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    --updating_;
    if (v.hwnd == nullptr)
        host_.fatal("The window " + base::hex(window.id()) + " cannot be shown.");
    apply_colours(v.units.front(), own);
    apply_font(v.units.front(), own);
    SetWindowLongPtrW(v.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&v));
    views_[v.id] = std::move(owned);
    for (size_t i = 1; i < v.units.size(); ++i)
        create_unit(v, window, i);
    apply_flags(v, window);
    for (size_t i = 1; i < v.units.size(); ++i) {
        if (window.units[i].now.focus && v.units[i].hwnd != nullptr && shown(window, i)) {
            SetFocus(v.units[i].hwnd);
            break;
        }
    }
    UpdateWindow(v.hwnd);
}

void Win32Interface::window_closed(const WindowState& window) {
    write_window_closed(window);
    auto found = views_.find(window.id());
    if (found == views_.end())
        return;
    std::unique_ptr<WindowView> closed = std::move(found->second);
    views_.erase(found);
    // The windows that the closed one held back take input again before it
    // goes, so that one of them becomes the active window.
    apply_reachability();
    SetWindowLongPtrW(closed->hwnd, GWLP_USERDATA, 0);
    for (UnitView& unit : closed->units) {
        if (&unit != &closed->units.front())
            destroy_unit(unit);
    }
    DestroyWindow(closed->hwnd);
    UnitView& own = closed->units.front();
    if (own.font != nullptr)
        DeleteObject(own.font);
    if (own.brush != nullptr)
        DeleteObject(own.brush);
}

void Win32Interface::unit_changed(const WindowState& window, const UnitState& unit,
                                  const Change& change) {
    write_unit_changed(window, unit, change);
    WindowView* v = view(window.id());
    if (v == nullptr)
        return;
    const size_t index = static_cast<size_t>(&unit - window.units.data());
    if (index >= v->units.size())
        return;
    UnitView& u = v->units[index];
    const Properties& p = unit.now;
    const bool own = index == 0;
    switch (change.aspect) {
        case Aspect::Text:
            if (own) {
                ++updating_;
                SetWindowTextW(v->hwnd, from_gbk(p.text).c_str());
                --updating_;
            } else if (u.kind == Kind::HtmlView) {
                // A new address: the view is made again on it.
                destroy_unit(u);
                create_unit(*v, window, index);
                apply_flags(*v, window);
            } else {
                set_control_text(u, p);
            }
            return;
        case Aspect::Visible:
        case Aspect::Enabled:
            apply_flags(*v, window);
            return;
        case Aspect::Place:
            apply_places(*v, window);
            return;
        case Aspect::Checked:
            if (u.hwnd != nullptr)
                SendMessageW(u.hwnd, BM_SETCHECK, p.checked ? BST_CHECKED : BST_UNCHECKED, 0);
            return;
        case Aspect::Selection:
            ++updating_;
            SendMessageW(u.hwnd, LB_SETCURSEL, static_cast<WPARAM>(p.selection), 0);
            --updating_;
            return;
        case Aspect::ItemInserted:
            ++updating_;
            SendMessageW(u.hwnd, LB_INSERTSTRING, static_cast<WPARAM>(change.row),
                         reinterpret_cast<LPARAM>(
                             from_gbk(p.items[static_cast<size_t>(change.row)]).c_str()));
            SendMessageW(u.hwnd, LB_SETCURSEL, static_cast<WPARAM>(p.selection), 0);
            --updating_;
            return;
        case Aspect::ItemRemoved:
        case Aspect::ItemText:
        case Aspect::ItemsCleared:
            fill_list(u, p);
            return;
        case Aspect::Colours:
            apply_colours(u, p);
            InvalidateRect(own ? v->hwnd : u.hwnd, nullptr, TRUE);
            return;
        case Aspect::Font:
            apply_font(u, p);
            InvalidateRect(own ? v->hwnd : u.hwnd, nullptr, TRUE);
            return;
        case Aspect::Picture:
            InvalidateRect(own ? v->hwnd : u.hwnd, nullptr, TRUE);
            return;
        case Aspect::Style:
            // An edit box's styles are fixed at its making: it is made again.
            if (u.kind == Kind::Edit) {
                destroy_unit(u);
                create_unit(*v, window, index);
                apply_flags(*v, window);
            }
            return;
    }
}

int64_t Win32Interface::handle_of(const WindowState& window, const UnitState& unit) {
    WindowView* v = view(window.id());
    const size_t index = static_cast<size_t>(&unit - window.units.data());
    if (v == nullptr || index >= v->units.size())
        return 0;
    HWND hwnd = index == 0 ? v->hwnd : v->units[index].hwnd;
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(hwnd));
}

// ---- message boxes ----

int32_t g_answer = 0;
HHOOK g_answer_hook = nullptr;

// Presses the script's answer in the message box as soon as it is made.
LRESULT CALLBACK answer_hook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND) {
        HWND hwnd = reinterpret_cast<HWND>(wparam);
        wchar_t name[16] = {};
        GetClassNameW(hwnd, name, 16);
        if (std::wcscmp(name, L"#32770") == 0 && g_answer != 0) {
            PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(g_answer, BN_CLICKED), 0);
            g_answer = 0;
        }
    }
    return CallNextHookEx(g_answer_hook, code, wparam, lparam);
}

int32_t Win32Interface::message_box(const MessageBoxRequest& request) {
    const std::string line = message_box_line(request);
    int32_t scripted_answer = 0;
    if (scripted_) {
        auto answer = driver_.answer(request);
        if (answer.is_error()) {
            ::automation::append_transcript_line(line);
            host_.automation_failure(answer.error());
        }
        scripted_answer = answer.value();
    }
    HWND owner = nullptr;
    if (WindowState* front = system_.active_window()) {
        if (WindowView* v = view(front->id()))
            owner = v->hwnd;
    }
    UINT style = static_cast<UINT>(request.buttons | request.icon);
    if (scripted_answer != 0) {
        g_answer = scripted_answer;
        g_answer_hook = SetWindowsHookExW(WH_CBT, answer_hook, nullptr, GetCurrentThreadId());
    }
    int32_t answer =
        MessageBoxW(owner, from_gbk(request.text).c_str(),
                    request.title.empty() ? nullptr : from_gbk(request.title).c_str(), style);
    if (g_answer_hook != nullptr) {
        UnhookWindowsHookEx(g_answer_hook);
        g_answer_hook = nullptr;
    }
    // The box answers as it was told; should it not have come up, the
    // script's answer stands.
    if (scripted_answer != 0)
        answer = scripted_answer;
    else if (answer == 0)
        answer = RT_MB_ANSWER_CANCEL;
    ::automation::append_transcript_line(line + " answer=" + answer_name(answer));
    return answer;
}

std::optional<std::string> Win32Interface::choose_folder(const FolderRequest& request) {
    if (!scripted_)
        return std::nullopt;
    return answer_folder_dialog(driver_, host_, request);
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

bool Win32Interface::serve_one(WindowSystem& system) {
    if (!scripted_) {
        MSG msg;
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0)
            return false;
        // Tab and the arrow keys move between the units of a window.
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
        case WM_ACTIVATE:
            // Under a script, the script alone says which window is in front.
            if (!scripted_ && LOWORD(wparam) != WA_INACTIVE)
                system_.activate(window_id);
            break;
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

void Win32Interface::paint_panel(HWND hwnd, HDC dc) {
    WindowView* v = nullptr;
    size_t index = 0;
    if (!locate(hwnd, v, index))
        return;
    const WindowState* window = system_.window(v->id);
    if (window == nullptr)
        return;
    const UnitView& unit = v->units[index];
    const Properties& p = window->units[index].now;
    RECT client;
    GetClientRect(hwnd, &client);
    if (unit.kind != Kind::TransparentLabel) {
        HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        FillRect(dc, &client, unit.kind == Kind::HtmlView ? white : unit.brush);
    }
    HGDIOBJ old_font = SelectObject(dc, unit.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, p.text_colour);
    const std::wstring text = from_gbk(p.text);
    switch (unit.kind) {
        case Kind::Label:
        case Kind::TransparentLabel: {
            // A label with room for one line keeps its text on that line
            // (cut at the right edge) instead of wrapping it onto a second
            // line that it cannot show; line breaks in the text still count.
            TEXTMETRICW metrics{};
            GetTextMetricsW(dc, &metrics);
            const bool room_for_lines = client.bottom - client.top >= 2 * metrics.tmHeight;
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client,
                      DT_LEFT | (room_for_lines ? DT_WORDBREAK : 0) | DT_NOPREFIX | DT_EXPANDTABS);
            break;
        }
        case Kind::Hyperlink:
            // A link without its own colour is blue.
            SetTextColor(dc, p.text_colour != 0 ? p.text_colour : RGB(0, 0, 255));
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client,
                      DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
            break;
        case Kind::PictureBox:
            draw_picture(dc, p.picture, 0, 0);
            break;
        case Kind::PictureButton: {
            // Its face, pushed one pixel down and right while held.
            const int shift = unit.pressed ? 1 : 0;
            if (read_bmp(p.picture).info != nullptr) {
                draw_picture(dc, p.picture, shift, shift);
            } else {
                RECT face = client;
                DrawEdge(dc, &face, unit.pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
                OffsetRect(&face, shift, shift);
                DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &face,
                          DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            }
            if (!usable(*window, index)) {
                // Greyed: every other pixel of the face in the button colour.
                static const WORD kPattern[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
                HBITMAP bits = CreateBitmap(8, 8, 1, 1, kPattern);
                HBRUSH grey = CreatePatternBrush(bits);
                SetTextColor(dc, GetSysColor(COLOR_BTNFACE));
                SetBkColor(dc, RGB(0, 0, 0));
                HGDIOBJ old = SelectObject(dc, grey);
                PatBlt(dc, 0, 0, client.right, client.bottom, 0x00A000C9 /* DPa */);
                SelectObject(dc, old);
                DeleteObject(grey);
                DeleteObject(bits);
            }
            break;
        }
        default:
            break;
    }
    SelectObject(dc, old_font);
}

LRESULT Win32Interface::panel_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;  // painted whole in WM_PAINT
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(hwnd, &paint);
            paint_panel(hwnd, dc);
            EndPaint(hwnd, &paint);
            return 0;
        }
        case WM_PRINTCLIENT:
            paint_panel(hwnd, reinterpret_cast<HDC>(wparam));
            return 0;
        case WM_LBUTTONDOWN: {
            WindowView* v = nullptr;
            size_t index = 0;
            if (!locate(hwnd, v, index))
                break;
            const uint32_t window_id = v->id;
            WindowState* window = system_.window(window_id);
            if (window == nullptr || !window->open)
                break;
            SetCapture(hwnd);
            v->units[index].pressed = true;
            InvalidateRect(hwnd, nullptr, FALSE);
            system_.press(window_id, window->units[index].id(),
                          static_cast<int16_t>(LOWORD(lparam)),
                          static_cast<int16_t>(HIWORD(lparam)), key_state(wparam));
            return 0;
        }
        case WM_LBUTTONUP: {
            WindowView* v = nullptr;
            size_t index = 0;
            const bool held = locate(hwnd, v, index) && v->units[index].pressed;
            // Letting go of the mouse tells the unit it is no longer held.
            if (GetCapture() == hwnd)
                ReleaseCapture();
            if (!held)
                break;
            v->units[index].pressed = false;
            InvalidateRect(hwnd, nullptr, FALSE);
            const uint32_t window_id = v->id;
            WindowState* window = system_.window(window_id);
            RECT client;
            GetClientRect(hwnd, &client);
            const POINT at{static_cast<int16_t>(LOWORD(lparam)),
                           static_cast<int16_t>(HIWORD(lparam))};
            if (window != nullptr && window->open && PtInRect(&client, at))
                system_.click(window_id, window->units[index].id());
            return 0;
        }
        case WM_CAPTURECHANGED: {
            WindowView* v = nullptr;
            size_t index = 0;
            if (locate(hwnd, v, index) && v->units[index].pressed) {
                v->units[index].pressed = false;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            break;
        }
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

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

    RECT rect;
    GetWindowRect(v->hwnd, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return fail("the window " + base::hex(window_id) + " has no area to capture");
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC source = GetWindowDC(v->hwnd);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP dib = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dib == nullptr || bits == nullptr) {
        DeleteDC(memory);
        ReleaseDC(v->hwnd, source);
        return fail(std::string("no memory for the picture of the window"));
    }
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    const auto* bgra = static_cast<const uint8_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(width) * static_cast<size_t>(height); ++i) {
        rgb[i * 3] = bgra[i * 4 + 2];
        rgb[i * 3 + 1] = bgra[i * 4 + 1];
        rgb[i * 3 + 2] = bgra[i * 4];
    }
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(v->hwnd, source);

    std::wstring path = base::utf8_to_wide(file);
    const bool relative =
        !(path.size() >= 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\')));
    const wchar_t* folder = _wgetenv(L"WJRT_CAPTURE_DIR");
    if (relative && folder != nullptr && *folder != 0)
        path = std::wstring(folder) + L"\\" + path;
    const std::vector<uint8_t> png =
        encode_png(static_cast<uint32_t>(width), static_cast<uint32_t>(height), rgb);
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return fail("the picture cannot be written to " + file);
    DWORD written = 0;
    const BOOL ok = WriteFile(out, png.data(), static_cast<DWORD>(png.size()), &written, nullptr);
    CloseHandle(out);
    if (!ok || written != png.size())
        return fail("the picture cannot be written to " + file);
    return {};
}

}  // namespace

std::unique_ptr<UserInterface> make_win32_interface(automation::ScriptDriver driver, bool scripted,
                                                    WindowSystem& system, Host& host,
                                                    std::vector<std::string> libraries) {
    return std::make_unique<Win32Interface>(std::move(driver), scripted, system, host,
                                            std::move(libraries));
}

}  // namespace kernel::ui
