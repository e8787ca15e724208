#include "runtime/kernel/ui/win32/boards.h"

#include <algorithm>

#include "runtime/kernel/ui/transcript_lines.h"
#include "runtime/kernel/ui/win32/backend.h"
#include "runtime/kernel/ui/win32/painting.h"
#include "runtime/kernel/ui/win32/text.h"

namespace kernel::ui::win32 {

namespace {

HDC WINAPI board_get_dc(HWND hwnd) {
    if (Win32Interface* backend = Win32Interface::attached()) {
        if (HDC dc = backend->board_dc_of(hwnd))
            return dc;
    }
    return GetDC(hwnd);
}

int WINAPI board_release_dc(HWND hwnd, HDC dc) {
    Win32Interface* backend = Win32Interface::attached();
    if (backend != nullptr && backend->board_released(hwnd, dc))
        return 1;
    return ReleaseDC(hwnd, dc);
}

}  // namespace

uint64_t board_function(std::string_view function) {
    if (function == "GetDC")
        return reinterpret_cast<uintptr_t>(&board_get_dc);
    if (function == "ReleaseDC")
        return reinterpret_cast<uintptr_t>(&board_release_dc);
    return 0;
}

HDC Win32Interface::board(UnitView& unit) {
    if (unit.hwnd == nullptr || unit.kind != Kind::Canvas)
        return nullptr;
    RECT client;
    GetClientRect(unit.hwnd, &client);
    const SIZE size{std::max<LONG>(client.right, 1), std::max<LONG>(client.bottom, 1)};
    if (unit.board_dc != nullptr && unit.board_size.cx == size.cx && unit.board_size.cy == size.cy)
        return unit.board_dc;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size.cx, size.cy);
    ReleaseDC(nullptr, screen);
    if (dc == nullptr || bitmap == nullptr) {
        if (dc != nullptr)
            DeleteDC(dc);
        if (bitmap != nullptr)
            DeleteObject(bitmap);
        return unit.board_dc;
    }
    SelectObject(dc, bitmap);
    const RECT all{0, 0, size.cx, size.cy};
    FillRect(dc, &all, unit.brush);
    if (unit.board_dc != nullptr) {
        // Resized: what fits of the old picture stays.
        BitBlt(dc, 0, 0, unit.board_size.cx, unit.board_size.cy, unit.board_dc, 0, 0, SRCCOPY);
        release_board(unit);
    }
    unit.board = bitmap;
    unit.board_dc = dc;
    unit.board_size = size;
    return dc;
}

void Win32Interface::show_board(const UnitView& unit) {
    if (unit.hwnd == nullptr || unit.board_dc == nullptr)
        return;
    HDC dc = GetDC(unit.hwnd);
    BitBlt(dc, 0, 0, unit.board_size.cx, unit.board_size.cy, unit.board_dc, 0, 0, SRCCOPY);
    ReleaseDC(unit.hwnd, dc);
}

void Win32Interface::release_board(UnitView& unit) {
    if (unit.board_dc != nullptr)
        DeleteDC(unit.board_dc);
    if (unit.board != nullptr)
        DeleteObject(unit.board);
    unit.board_dc = nullptr;
    unit.board = nullptr;
    unit.board_size = SIZE{};
    unit.board_lent = false;
}

HDC Win32Interface::board_dc_of(HWND hwnd) {
    // Looked up among our own controls: the handle comes from the program
    // and may name any window of the system.
    if (hwnd == nullptr)
        return nullptr;
    for (auto& [id, view] : views_) {
        for (UnitView& unit : view->units) {
            if (unit.hwnd == hwnd && unit.kind == Kind::Canvas) {
                HDC dc = board(unit);
                unit.board_lent = dc != nullptr;
                return dc;
            }
        }
    }
    return nullptr;
}

bool Win32Interface::board_released(HWND hwnd, HDC dc) {
    if (dc == nullptr)
        return false;
    for (auto& [id, view] : views_) {
        for (UnitView& unit : view->units) {
            if (unit.board_dc == dc && unit.board_lent && unit.hwnd == hwnd) {
                unit.board_lent = false;
                show_board(unit);
                return true;
            }
        }
    }
    return false;
}

void Win32Interface::unit_copied(const WindowState& window, const UnitState& original,
                                 const UnitState& copy) {
    write_unit_copied(original, copy);
    WindowView* v = view(window.id());
    const size_t index = static_cast<size_t>(&copy - window.units.data());
    if (v == nullptr || index != v->units.size())
        return;
    v->units.push_back(UnitView{kind_of(copy.type())});
    create_unit(*v, window, index);
    apply_stacking(*v, window);
    apply_flags(*v, window);
}

void Win32Interface::draw_text(const WindowState& window, const UnitState& unit,
                               const DrawnText& text) {
    write_text_drawn(unit, text);
    WindowView* v = view(window.id());
    const size_t index = static_cast<size_t>(&unit - window.units.data());
    if (v == nullptr || index >= v->units.size())
        return;
    UnitView& u = v->units[index];
    HDC dc = board(u);
    if (dc == nullptr)
        return;
    const std::wstring wide = from_gbk(text.text);
    HGDIOBJ old_font = SelectObject(dc, u.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, text.colour);
    TextOutW(dc, text.x, text.y, wide.c_str(), static_cast<int>(wide.size()));
    SelectObject(dc, old_font);
    show_board(u);
}

TextSize Win32Interface::measure_text(const Font& font, std::string_view gbk) {
    HDC screen = GetDC(nullptr);
    HFONT made = make_font(font, false);
    HGDIOBJ old_font = SelectObject(screen, made);
    const std::wstring wide = from_gbk(std::string(gbk));
    SIZE size{};
    GetTextExtentPoint32W(screen, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(screen, old_font);
    DeleteObject(made);
    ReleaseDC(nullptr, screen);
    return {static_cast<int32_t>(size.cx), static_cast<int32_t>(size.cy)};
}

}  // namespace kernel::ui::win32
