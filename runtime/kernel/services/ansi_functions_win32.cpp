#include "runtime/kernel/services/ansi_functions.h"

#include <windows.h>
// windows.h first: the shell's headers build on it.
#include <shlobj.h>

#include <cstring>
#include <optional>
#include <string>

#include "runtime/kernel/runtime.h"
#include "runtime/kernel/services/system_functions.h"

namespace kernel {

namespace {

constexpr UINT kGbk = 936;

std::wstring from_gbk(const char* gbk, size_t length) {
    if (length == 0)
        return {};
    const int size = MultiByteToWideChar(kGbk, 0, gbk, static_cast<int>(length), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(kGbk, 0, gbk, static_cast<int>(length), out.data(), size);
    return out;
}

// Characters without a GBK form become '?' (as the system's ANSI functions
// write them), and `exact` tells whether there were any.
std::string to_gbk(const wchar_t* text, bool* exact = nullptr) {
    const int length = static_cast<int>(std::wcslen(text));
    BOOL defaulted = FALSE;
    std::string out;
    if (length > 0) {
        const int size = WideCharToMultiByte(kGbk, 0, text, length, nullptr, 0, nullptr, nullptr);
        out.assign(static_cast<size_t>(size > 0 ? size : 0), '\0');
        if (size > 0)
            WideCharToMultiByte(kGbk, 0, text, length, out.data(), size, "?", &defaulted);
    }
    if (exact != nullptr)
        *exact = defaulted == FALSE;
    return out;
}

// At most `room` − 1 bytes, never ending inside a double-byte character.
std::string cut_to(std::string text, size_t room) {
    size_t keep = 0;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t width = c >= 0x81 && c <= 0xFE && i + 1 < text.size() ? 2 : 1;
        if (i + width > room - 1)
            break;
        i += width;
        keep = i;
    }
    text.resize(keep);
    return text;
}

const ProgramMemory& memory() {
    return Runtime::instance().memory();
}

[[noreturn]] void fatal(const std::string& text) {
    Runtime::instance().fatal(text);
}

// ---- SHBrowseForFolderA ----

// The dialog up (the user interface has one thread): the program's
// callback and its data.
struct Browse {
    BFFCALLBACK callback = nullptr;
    LPARAM data = 0;
    WNDPROC dialog_procedure = nullptr;
};
Browse* g_browse = nullptr;

// The dialog, subclassed: the ANSI messages that the program's callback
// sends it carry GBK texts, which the wide dialog gets as UTF-16.
LRESULT CALLBACK dialog_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    Browse* browse = g_browse;
    WNDPROC next = browse != nullptr ? browse->dialog_procedure : DefWindowProcW;
    if ((message == BFFM_SETSTATUSTEXTA || (message == BFFM_SETSELECTIONA && wparam != 0)) &&
        lparam != 0) {
        const auto* text = reinterpret_cast<const char*>(lparam);
        const int64_t length = memory().text_length(text);
        if (length < 0)
            return 0;  // no text of the program's
        const std::wstring wide = from_gbk(text, static_cast<size_t>(length));
        const UINT as_wide =
            message == BFFM_SETSTATUSTEXTA ? BFFM_SETSTATUSTEXTW : BFFM_SETSELECTIONW;
        return CallWindowProcW(next, hwnd, as_wide, wparam, reinterpret_cast<LPARAM>(wide.c_str()));
    }
    if (message == BFFM_SETSELECTIONA)
        message = BFFM_SETSELECTIONW;  // an item id list: the same either way
    return CallWindowProcW(next, hwnd, message, wparam, lparam);
}

int CALLBACK forward_callback(HWND hwnd, UINT message, LPARAM lparam, LPARAM) {
    Browse* browse = g_browse;
    if (browse == nullptr || browse->callback == nullptr)
        return 0;
    if (message == BFFM_INITIALIZED && browse->dialog_procedure == nullptr) {
        browse->dialog_procedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&dialog_procedure)));
    }
    if (message == BFFM_VALIDATEFAILEDW) {
        const std::string typed = to_gbk(reinterpret_cast<const wchar_t*>(lparam));
        return browse->callback(hwnd, BFFM_VALIDATEFAILEDA, reinterpret_cast<LPARAM>(typed.c_str()),
                                browse->data);
    }
    return browse->callback(hwnd, message, lparam, browse->data);
}

PIDLIST_ABSOLUTE WINAPI browse_for_folder(BROWSEINFOA* info) {
    // The record is written back (iImage), so it must be the program's to write.
    if (!memory().writable(info, sizeof *info))
        fatal("SHBrowseForFolderA was given no browse information.");
    BROWSEINFOW wide{};
    wide.hwndOwner = info->hwndOwner;
    wide.pidlRoot = info->pidlRoot;
    wide.ulFlags = info->ulFlags;
    std::wstring title;
    if (info->lpszTitle != nullptr) {
        const int64_t length = memory().text_length(info->lpszTitle);
        if (length < 0)
            fatal("SHBrowseForFolderA was given a title outside the program's memory.");
        title = from_gbk(info->lpszTitle, static_cast<size_t>(length));
        wide.lpszTitle = title.c_str();
    }
    if (info->pszDisplayName != nullptr && !memory().writable(info->pszDisplayName, MAX_PATH))
        fatal("SHBrowseForFolderA was given a display name buffer of less than " +
              std::to_string(MAX_PATH) + " bytes.");
    wchar_t display_name[MAX_PATH] = {};
    wide.pszDisplayName = display_name;
    Browse browse{info->lpfn, info->lParam, nullptr};
    Browse* outer = g_browse;
    if (info->lpfn != nullptr) {
        if (!memory().in_code(reinterpret_cast<const void*>(info->lpfn)))
            fatal("SHBrowseForFolderA was given a callback that is no routine of the program.");
        wide.lpfn = forward_callback;
        g_browse = &browse;
    }
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&wide);
    g_browse = outer;
    info->iImage = wide.iImage;
    if (info->pszDisplayName != nullptr) {
        const std::string name = cut_to(to_gbk(display_name), MAX_PATH);
        std::memcpy(info->pszDisplayName, name.c_str(), name.size() + 1);
    }
    return chosen;
}

// ---- SHGetPathFromIDListA ----

BOOL WINAPI path_from_id_list(PCIDLIST_ABSOLUTE ids, char* path) {
    if (!memory().writable(path, 1))
        return FALSE;
    path[0] = '\0';
    wchar_t wide[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(ids, wide))
        return FALSE;
    // A path that GBK cannot spell names no folder the program can reach.
    bool exact = false;
    const std::string gbk = to_gbk(wide, &exact);
    if (!exact || gbk.size() >= MAX_PATH || !memory().writable(path, gbk.size() + 1))
        return FALSE;
    std::memcpy(path, gbk.c_str(), gbk.size() + 1);
    return TRUE;
}

struct Wrapper {
    const char* library;
    const char* function;
    const void* address;
};

const Wrapper kWrappers[] = {
    {"shell32", "SHBrowseForFolderA", reinterpret_cast<const void*>(&browse_for_folder)},
    {"shell32", "SHGetPathFromIDListA", reinterpret_cast<const void*>(&path_from_id_list)},
};

}  // namespace

uint64_t ansi_function(const image::DllDeclaration& declaration) {
    for (const Wrapper& w : kWrappers) {
        if (declaration.function == w.function && same_library(declaration.library, w.library))
            return reinterpret_cast<uintptr_t>(w.address);
    }
    return 0;
}

}  // namespace kernel
