#include "runtime/kernel/ui/win32/text.h"

#include <algorithm>

namespace kernel::ui::win32 {

namespace {

constexpr UINT kGbk = 936;

}  // namespace

std::wstring wide(std::string_view text, UINT code_page) {
    if (text.empty())
        return {};
    const int length =
        MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length > 0)
        MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            length);
    return out;
}

std::wstring from_gbk(std::string_view gbk) {
    return wide(gbk, kGbk);
}

std::string to_gbk(std::wstring_view text) {
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(kGbk, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(length, 0)), '\0');
    if (length > 0)
        WideCharToMultiByte(kGbk, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                            nullptr, nullptr);
    return out;
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
