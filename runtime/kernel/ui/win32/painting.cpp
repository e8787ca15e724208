// The runtime's own control class (labels, pictures, drawing boards, picture
// buttons, hyperlinks, HTML views without a browser): painting it, and the
// left mouse button on it.
#include "runtime/kernel/ui/win32/painting.h"

#include "contract/runtime_abi.h"
#include "runtime/kernel/ui/win32/backend.h"
#include "runtime/kernel/ui/win32/pictures.h"
#include "runtime/kernel/ui/win32/text.h"

namespace kernel::ui::win32 {

namespace {

// 宋体, the face of units that name none.
constexpr wchar_t kDefaultFace[] = L"\u5B8B\u4F53";

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

}  // namespace

HFONT make_font(const Font& font, bool underline) {
    HDC screen = GetDC(nullptr);
    // A height in pixels is the font's line (its cell, with the room above
    // the characters): the launcher's 14-pixel labels are sized for that, and
    // "商业版与免费版比较" fits its 112 pixels only so. Points give the
    // characters' own height (negative), as Windows' point sizes do.
    const int height =
        font.pixels > 0 ? font.pixels : -MulDiv(font.size, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    const std::wstring face = font.name.empty() ? std::wstring(kDefaultFace) : from_gbk(font.name);
    return CreateFontW(height, 0, 0, 0, (font.style & RT_FONT_BOLD) != 0 ? FW_BOLD : FW_NORMAL,
                       (font.style & RT_FONT_ITALIC) != 0,
                       underline || (font.style & RT_FONT_UNDERLINE) != 0, FALSE, GB2312_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

// The system's control host of the embedded browser: a window of the class

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
            const UINT align = p.alignment == RT_ALIGN_CENTRE  ? DT_CENTER
                               : p.alignment == RT_ALIGN_RIGHT ? DT_RIGHT
                                                               : DT_LEFT;
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client,
                      align | (room_for_lines ? DT_WORDBREAK : 0) | DT_NOPREFIX | DT_EXPANDTABS);
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
        case Kind::Canvas:
            // What the program painted, kept in the board's picture.
            if (unit.board_dc != nullptr)
                BitBlt(dc, 0, 0, unit.board_size.cx, unit.board_size.cy, unit.board_dc, 0, 0,
                       SRCCOPY);
            break;
        case Kind::PictureButton: {
            // The face of its state where it has one; else its face, pushed
            // one pixel down and right while held, greyed when disabled.
            const bool enabled = usable(*window, index);
            auto has = [&](size_t state) { return read_bmp(p.faces[state]).info != nullptr; };
            const std::vector<uint8_t>* face = &p.picture;
            int shift = unit.pressed ? 1 : 0;
            bool greyed = !enabled;
            if (!enabled && has(kFaceDisabled)) {
                face = &p.faces[kFaceDisabled];
                greyed = false;
            } else if (enabled && unit.pressed && has(kFacePressed)) {
                face = &p.faces[kFacePressed];
                shift = 0;
            } else if (enabled && unit.hover && has(kFaceHover)) {
                face = &p.faces[kFaceHover];
            }
            if (read_bmp(*face).info != nullptr) {
                draw_picture(dc, *face, shift, shift);
            } else {
                RECT face = client;
                DrawEdge(dc, &face, unit.pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
                OffsetRect(&face, shift, shift);
                DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &face,
                          DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            }
            if (greyed) {
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
        case WM_MOUSEMOVE: {
            // A picture button shows its hover face until the mouse leaves.
            WindowView* v = nullptr;
            size_t index = 0;
            if (locate(hwnd, v, index) && !v->units[index].hover) {
                v->units[index].hover = true;
                TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
                TrackMouseEvent(&track);
                if (v->units[index].kind == Kind::PictureButton)
                    InvalidateRect(hwnd, nullptr, FALSE);
            }
            break;
        }
        case WM_MOUSELEAVE: {
            WindowView* v = nullptr;
            size_t index = 0;
            if (locate(hwnd, v, index) && v->units[index].hover) {
                v->units[index].hover = false;
                if (v->units[index].kind == Kind::PictureButton)
                    InvalidateRect(hwnd, nullptr, FALSE);
            }
            break;
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
}  // namespace kernel::ui::win32
