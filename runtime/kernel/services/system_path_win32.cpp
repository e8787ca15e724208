#include <windows.h>

#include "runtime/kernel/services/system_path.h"

namespace kernel {

std::optional<SystemPath> to_system_path(std::string_view gbk_path) {
    constexpr UINT kGbk = 936;
    if (gbk_path.empty())
        return std::nullopt;
    const int size = static_cast<int>(gbk_path.size());
    const int length =
        MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, gbk_path.data(), size, nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, gbk_path.data(), size, wide.data(), length);
    return wide;
}

}  // namespace kernel
