#include "runtime/kernel/ui/win32/text.h"

#include <algorithm>

#include "base/encoding.h"

namespace kernel::ui::win32 {

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

std::wstring with_crlf(std::wstring_view text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            out += L'\r';
        out += text[i];
    }
    return out;
}
}  // namespace kernel::ui::win32
