#include <windows.h>

#include "runtime/kernel/services/system_path.h"

namespace kernel {

namespace {

constexpr UINT kGbk = 936;

}  // namespace

std::optional<SystemPath> to_system_path(std::string_view gbk) {
    if (gbk.empty() || gbk.find('\0') != std::string_view::npos)
        return std::nullopt;
    const int length = MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, gbk.data(),
                                           static_cast<int>(gbk.size()), nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, gbk.data(), static_cast<int>(gbk.size()),
                        wide.data(), length);
    return wide;
}

std::optional<std::string> from_system_path(const SystemPath& path) {
    if (path.empty())
        return std::string();
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(kGbk, 0, path.data(), static_cast<int>(path.size()),
                                           nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy)
        return std::nullopt;
    std::string gbk(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(kGbk, 0, path.data(), static_cast<int>(path.size()), gbk.data(), length,
                        nullptr, nullptr);
    return gbk;
}

SystemPath parent_of(const SystemPath& path) {
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos)
        return {};
    // "C:\x" has the parent "C:\", not the drive-relative "C:".
    if (separator == 2 && path.size() > 2 && path[1] == L':')
        return path.substr(0, 3);
    return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

}  // namespace kernel
