// Units as controls: what each unit type is made as, where it lies, and how
// the model's changes reach the controls.
#include <algorithm>

#include "base/hex.h"
#include "contract/runtime_abi.h"
#include "runtime/kernel/ui/icon_file.h"
#include "runtime/kernel/ui/transcript_lines.h"
#include "runtime/kernel/ui/win32/backend.h"
#include "runtime/kernel/ui/win32/browser_host.h"
#include "runtime/kernel/ui/win32/painting.h"
#include "runtime/kernel/ui/win32/text.h"

namespace kernel::ui::win32 {

namespace {

// The icon of `size` pixels square from the images of an icon file: the
// image of that size (the one of most colours), else the smallest larger
// one, else the largest, which the system scales.
HICON icon_of(const std::vector<uint8_t>& file, int size) {
    auto images = read_icon_file(file);
    if (images.is_error())
        return nullptr;
    const IconImage* best = nullptr;
    auto better = [size](const IconImage& a, const IconImage& b) {
        const bool a_fits = a.width >= size, b_fits = b.width >= size;
        if (a_fits != b_fits)
            return a_fits;
        if (a.width != b.width)
            return a_fits ? a.width < b.width : a.width > b.width;
        return a.bits > b.bits;
    };
    for (const IconImage& image : images.value()) {
        if (best == nullptr || better(image, *best))
            best = &image;
    }
    return CreateIconFromResourceEx(const_cast<PBYTE>(best->bytes.data()),
                                    static_cast<DWORD>(best->bytes.size()), TRUE, 0x00030000, size,
                                    size, LR_DEFAULTCOLOR);
}

}  // namespace

Kind Win32Interface::kind_of(uint32_t type) const {
#define RT_SHOWN_AS_(constant, name, library, number, facets, shown) Kind::shown,
    static constexpr Kind kShown[] = {RT_UNIT_TYPE_TABLE(RT_SHOWN_AS_)};
#undef RT_SHOWN_AS_
    const RtUnitTypeRow* row = find_unit_type(type, libraries_);
    return row != nullptr ? kShown[rt_unit_type_index(row->library, row->number)] : Kind::Invisible;
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

// ---- stacking: the units lie flat, so only their order among the window's
// children says which is seen where they overlap ----

std::vector<size_t> Win32Interface::stacking_order(const WindowState& window) const {
    // The units as nested windows would stack them: a holder's units right
    // above it, each holder's units (and the window's) in form order, later
    // above earlier. Bottom first.
    const size_t count = window.units.size();
    std::vector<std::vector<size_t>> held(count);
    for (size_t i = 1; i < count; ++i) {
        const UnitState* holder = window.parent_of(window.units[i]);
        size_t at = 0;
        if (holder != nullptr && holder != &window.units.front())
            at = static_cast<size_t>(holder - window.units.data());
        held[at < count && at != i ? at : 0].push_back(i);
    }
    std::vector<size_t> order;
    std::vector<size_t> pending(held[0].rbegin(), held[0].rend());
    std::vector<bool> placed(count, false);
    while (!pending.empty() && order.size() < count) {
        const size_t unit = pending.back();
        pending.pop_back();
        if (placed[unit])
            continue;
        placed[unit] = true;
        order.push_back(unit);
        pending.insert(pending.end(), held[unit].rbegin(), held[unit].rend());
    }
    // Whatever no chain from the window reaches still gets a place: on top.
    for (size_t i = 1; i < count; ++i) {
        if (!placed[i])
            order.push_back(i);
    }
    return order;
}

void Win32Interface::apply_stacking(WindowView& view, const WindowState& window) {
    for (size_t index : stacking_order(window)) {
        if (index < view.units.size() && view.units[index].hwnd != nullptr)
            SetWindowPos(view.units[index].hwnd, HWND_TOP, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
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
    if ((p.scroll_bars & RT_SCROLL_HORIZONTAL) == 0)
        return;
    // A list box scrolls sideways only as far as it is told its rows reach.
    HDC dc = GetDC(unit.hwnd);
    HGDIOBJ old_font = SelectObject(dc, unit.font);
    LONG widest = 0;
    for (const std::string& item : p.items) {
        const std::wstring row = from_gbk(item);
        SIZE size{};
        GetTextExtentPoint32W(dc, row.c_str(), static_cast<int>(row.size()), &size);
        widest = std::max(widest, size.cx + 4);
    }
    SelectObject(dc, old_font);
    ReleaseDC(unit.hwnd, dc);
    SendMessageW(unit.hwnd, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest), 0);
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
    // Each unit paints only where no unit above it lies (the order of
    // apply_stacking); without this the one painted last covers the rest.
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
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
            if (p.alignment == RT_ALIGN_CENTRE)
                style |= ES_CENTER;
            else if (p.alignment == RT_ALIGN_RIGHT)
                style |= ES_RIGHT;
            // A horizontal bar keeps lines unbroken; a vertical one lets a
            // multi-line box grow past its height.
            if ((p.scroll_bars & RT_SCROLL_HORIZONTAL) != 0)
                style |= WS_HSCROLL | ES_AUTOHSCROLL;
            if ((p.scroll_bars & RT_SCROLL_VERTICAL) != 0)
                style |= WS_VSCROLL | ES_AUTOVSCROLL;
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
            // The vertical bar comes when the rows need it; a horizontal one
            // only when asked for (rows wider than the box).
            if ((p.scroll_bars & RT_SCROLL_HORIZONTAL) != 0)
                style |= WS_HSCROLL;
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
    if (unit.kind == Kind::List)
        fill_list(unit, p);
    if (unit.kind == Kind::Radio)
        SendMessageW(unit.hwnd, BM_SETCHECK, p.checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32Interface::destroy_unit(UnitView& unit) {
    release_board(unit);
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
    // A modal window is not minimised: what it holds back would stay
    // unreachable behind nothing to see.
    const DWORD style =
        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | (window.modal ? 0 : WS_MINIMIZEBOX);
    v.hwnd = CreateWindowExW(0, kWindowClass, from_gbk(own.text).c_str(), style, x, y, own.width,
                             own.height, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    --updating_;
    if (v.hwnd == nullptr)
        host_.fatal("The window " + base::hex(window.id()) + " cannot be shown.");
    apply_colours(v.units.front(), own);
    apply_font(v.units.front(), own);
    if (!own.icon.empty()) {
        v.big_icon = icon_of(own.icon, GetSystemMetrics(SM_CXICON));
        v.small_icon = icon_of(own.icon, GetSystemMetrics(SM_CXSMICON));
        SendMessageW(v.hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(v.big_icon));
        SendMessageW(v.hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(v.small_icon));
    }
    SetWindowLongPtrW(v.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&v));
    views_[v.id] = std::move(owned);
    for (size_t i = 1; i < v.units.size(); ++i)
        create_unit(v, window, i);
    apply_stacking(v, window);
    apply_flags(v, window);
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
    for (HICON icon : {closed->big_icon, closed->small_icon}) {
        if (icon != nullptr)
            DestroyIcon(icon);
    }
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
                apply_stacking(*v, window);  // made again, it came on top
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
            if ((p.scroll_bars & RT_SCROLL_HORIZONTAL) != 0) {
                fill_list(u, p);  // and how far its rows now reach
                return;
            }
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
        case Aspect::Icon:
            return;  // given at the window's making
        case Aspect::Focus:
        case Aspect::FocusAtStart:
            if (u.hwnd != nullptr && GetFocus() != u.hwnd)
                SetFocus(u.hwnd);
            return;
        case Aspect::Style:
            // An edit box's styles are fixed at its making: it is made again.
            if (u.kind == Kind::Edit) {
                destroy_unit(u);
                create_unit(*v, window, index);
                apply_stacking(*v, window);  // made again, it came on top
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
}  // namespace kernel::ui::win32
