#include "runtime/kernel/ui/win32/pictures.h"

#include <cstdlib>
#include <cstring>

#include "base/byte_reader.h"
#include "base/encoding.h"
#include "base/hex.h"
#include "runtime/kernel/ui/win32/png_writer.h"
#include "runtime/kernel/ui/win32/text.h"

namespace kernel::ui::win32 {

using base::fail;

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

Result<void> capture_window(HWND hwnd, uint32_t window_id, const std::string& file) {
    RECT rect;
    GetWindowRect(hwnd, &rect);
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
    HDC source = GetWindowDC(hwnd);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP dib = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dib == nullptr || bits == nullptr) {
        DeleteDC(memory);
        ReleaseDC(hwnd, source);
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
    ReleaseDC(hwnd, source);

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

}  // namespace kernel::ui::win32
