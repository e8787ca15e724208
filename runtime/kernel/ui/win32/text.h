// Texts between the program's GBK and the system's wide functions.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kernel::ui::win32 {

std::wstring from_gbk(std::string_view gbk);
// Characters without a GBK form become '?'.
std::string to_gbk(std::wstring_view text);
std::wstring window_text(HWND hwnd);
// Edit controls break lines at CR LF only.
std::wstring with_crlf(std::wstring_view text);

}  // namespace kernel::ui::win32
