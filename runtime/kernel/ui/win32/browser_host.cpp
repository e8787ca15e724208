#include "runtime/kernel/ui/win32/browser_host.h"

#include <windows.h>

namespace kernel::ui::win32 {

const wchar_t* browser_class() {
    static const wchar_t* name = []() -> const wchar_t* {
        HMODULE atl = LoadLibraryW(L"atl.dll");
        if (atl == nullptr)
            return nullptr;
        using Init = BOOL(WINAPI*)();
        auto init = reinterpret_cast<Init>(
            reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxWinInit")));
        if (init == nullptr || OleInitialize(nullptr) < 0 || !init())
            return nullptr;
        return L"AtlAxWin";
    }();
    return name;
}

}  // namespace kernel::ui::win32
