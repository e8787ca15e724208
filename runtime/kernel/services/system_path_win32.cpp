#include <windows.h>

#include "base/encoding.h"
#include "runtime/kernel/services/system_path.h"

namespace kernel {

std::optional<SystemPath> to_system_path(std::string_view gbk) {
    if (gbk.empty() || gbk.find('\0') != std::string_view::npos)
        return std::nullopt;
    return base::gbk_to_wide(gbk);
}

std::optional<std::string> from_system_path(const SystemPath& path) {
    return base::wide_to_gbk(path);
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
