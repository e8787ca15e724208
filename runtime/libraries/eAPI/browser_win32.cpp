#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "base/encoding.h"
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
    const std::optional<std::wstring> address = base::gbk_to_wide(gbk_address);
    if (!address || address->empty())
        return;
    ShellExecuteW(nullptr, L"open", address->c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace eapi
