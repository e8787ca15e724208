#include <windows.h>
// after windows.h
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <atomic>

#include "base/encoding.h"
#include "runtime/libraries/pbshell/shortcut.h"

namespace pbshell {

namespace {

// Releases a COM interface when it goes.
template <typename T>
struct Held {
    T* p = nullptr;
    ~Held() {
        if (p != nullptr)
            p->Release();
    }
};

bool save_link(const std::wstring& file, const std::wstring& target,
               const std::wstring& description, const std::wstring& folder) {
    Held<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link.p))))
        return false;
    if (FAILED(link.p->SetPath(target.c_str())) ||
        FAILED(link.p->SetDescription(description.c_str())) ||
        FAILED(link.p->SetWorkingDirectory(folder.c_str())))
        return false;
    Held<IPersistFile> persist;
    if (FAILED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist.p))))
        return false;
    return SUCCEEDED(persist.p->Save(file.c_str(), FALSE));
}

}  // namespace

bool write_shortcut(const std::string& path, const std::string& target, const std::string& comment,
                    const std::string& working_folder) {
    if (path.empty() || target.empty())
        return false;
    const auto file = base::gbk_to_wide(path);
    const auto target16 = base::gbk_to_wide(target);
    const auto description16 = base::gbk_to_wide(comment);
    const auto folder16 = base::gbk_to_wide(working_folder);
    if (!file || !target16 || !description16 || !folder16)
        return false;

    // COM on this thread for the call; a thread that already has it in
    // another mode still lets the in-process link object work.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool release_com = SUCCEEDED(init);

    // Saved beside the final name, then renamed over it.
    static std::atomic<unsigned> counter{0};
    const std::wstring temporary = *file + L".tmp-" + std::to_wstring(GetCurrentProcessId()) +
                                   L"-" + std::to_wstring(counter++) + L".lnk";
    bool done = save_link(temporary, *target16, *description16, *folder16) &&
                MoveFileExW(temporary.c_str(), file->c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!done)
        DeleteFileW(temporary.c_str());
    if (release_com)
        CoUninitialize();
    return done;
}

}  // namespace pbshell
