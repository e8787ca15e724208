#include <windows.h>

#include "base/encoding.h"

namespace base {

namespace {

constexpr UINT kGbk = 936;

// `strict`: nullopt for bytes that are not valid in `code_page`.
std::optional<std::wstring> to_wide(std::string_view text, UINT code_page, bool strict) {
    if (text.empty())
        return std::wstring();
    const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    const int length = MultiByteToWideChar(code_page, flags, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

// `strict`: nullopt for characters without a form in `code_page` (not
// asked of UTF-8, which has a form for each).
std::optional<std::string> from_wide(std::wstring_view wide, UINT code_page, bool strict) {
    if (wide.empty())
        return std::string();
    BOOL lossy = FALSE;
    BOOL* lossy_flag = strict && code_page != CP_UTF8 ? &lossy : nullptr;
    const int length = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, lossy_flag);
    if (length <= 0 || lossy)
        return std::nullopt;
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                        length, nullptr, nullptr);
    return out;
}

std::optional<std::string> convert(std::string_view text, UINT from, UINT to) {
    auto wide = to_wide(text, from, true);
    if (!wide)
        return std::nullopt;
    return from_wide(*wide, to, true);
}

}  // namespace

std::optional<std::string> gbk_to_utf8(std::string_view gbk) {
    return convert(gbk, kGbk, CP_UTF8);
}

std::optional<std::string> utf8_to_gbk(std::string_view utf8) {
    return convert(utf8, CP_UTF8, kGbk);
}

std::optional<std::wstring> gbk_to_wide(std::string_view gbk) {
    return to_wide(gbk, kGbk, true);
}

std::wstring gbk_to_wide_replacing(std::string_view gbk) {
    return to_wide(gbk, kGbk, false).value_or(std::wstring());
}

std::optional<std::string> wide_to_gbk(std::wstring_view wide) {
    return from_wide(wide, kGbk, true);
}

std::string wide_to_gbk_replacing(std::wstring_view wide) {
    return from_wide(wide, kGbk, false).value_or(std::string());
}

std::wstring utf8_to_wide(std::string_view utf8) {
    return to_wide(utf8, CP_UTF8, false).value_or(std::wstring());
}

std::string wide_to_utf8(std::wstring_view wide) {
    return from_wide(wide, CP_UTF8, false).value_or(std::string());
}

}  // namespace base
