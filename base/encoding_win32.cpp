#include <windows.h>

#include "base/encoding.h"

namespace base {

namespace {

constexpr UINT kGbk = 936;

std::optional<std::string> convert(std::string_view text, UINT from, UINT to) {
    if (text.empty())
        return std::string();
    int wide_length = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(),
                                          static_cast<int>(text.size()), nullptr, 0);
    if (wide_length <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<size_t>(wide_length), L'\0');
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        wide.data(), wide_length);
    BOOL lossy = FALSE;
    BOOL* lossy_flag = to == CP_UTF8 ? nullptr : &lossy;
    int length =
        WideCharToMultiByte(to, 0, wide.data(), wide_length, nullptr, 0, nullptr, lossy_flag);
    if (length <= 0 || lossy)
        return std::nullopt;
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wide_length, out.data(), length, nullptr, nullptr);
    return out;
}

}  // namespace

std::optional<std::string> gbk_to_utf8(std::string_view gbk) {
    return convert(gbk, kGbk, CP_UTF8);
}

std::optional<std::string> utf8_to_gbk(std::string_view utf8) {
    return convert(utf8, CP_UTF8, kGbk);
}

}  // namespace base
