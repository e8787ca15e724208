#include <windows.h>

#include <string_view>

#include "base/encoding.h"
#include "runtime/kernel/automation/script_source.h"

namespace kernel::automation {

base::Result<std::optional<std::string>> read_script_source() {
    static wchar_t path[32768];
    DWORD length = GetEnvironmentVariableW(L"WJRT_SCRIPT", path, 32768);
    if (length == 0 || length >= 32768)
        return std::optional<std::string>();
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return base::fail(std::string("cannot open the script that WJRT_SCRIPT names"));
    std::string text;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            CloseHandle(file);
            return base::fail(std::string("cannot read the script that WJRT_SCRIPT names"));
        }
        if (got == 0)
            break;
        text.append(buffer, got);
    }
    CloseHandle(file);
    return std::optional<std::string>(std::move(text));
}

std::string own_program_name() {
    static wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    if (length == 0 || length >= 32768)
        return {};
    std::wstring_view full(path, length);
    full = full.substr(full.find_last_of(L"\\/") + 1);
    return base::wide_to_utf8(full);
}

}  // namespace kernel::automation
