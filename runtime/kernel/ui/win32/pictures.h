// Pictures: the BMP files that forms carry, drawn into a device context, and
// pictures of a window written as PNG files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/kernel/ui/model.h"

namespace kernel::ui::win32 {

// A device-independent bitmap inside a BMP file's bytes; empty when the
// bytes are no uncompressed BMP that they hold whole.
struct Dib {
    const BITMAPINFO* info = nullptr;
    const uint8_t* bits = nullptr;
    int32_t width = 0, height = 0;
};

Dib read_bmp(const std::vector<uint8_t>& bytes);
// At its own size, its top left corner at x, y; nothing when it is no BMP.
void draw_picture(HDC dc, const std::vector<uint8_t>& picture, int x, int y);

// The window as it is on the screen, frame included, into a PNG file (UTF-8
// name; relative names below WJRT_CAPTURE_DIR).
Result<void> capture_window(HWND hwnd, uint32_t window_id, const std::string& file);

}  // namespace kernel::ui::win32
