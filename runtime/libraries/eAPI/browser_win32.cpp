#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "runtime/libraries/eAPI/browser.h"

namespace eapi {

bool under_automation() {
    for (const wchar_t* name : {L"WJRT_SCRIPT", L"WJRT_TRANSCRIPT"}) {
        wchar_t value[2];
        if (GetEnvironmentVariableW(name, value, 2) > 0)
            return true;
    }
    return false;
}

void open_in_browser(std::string_view gbk_address) {
    const int length = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk_address.data(),
                                           static_cast<int>(gbk_address.size()), nullptr, 0);
    if (length <= 0)
        return;
    std::wstring address(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk_address.data(),
                        static_cast<int>(gbk_address.size()), address.data(), length);
    ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace eapi
