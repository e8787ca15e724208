#include <windows.h>
// after windows.h
#include <shlobj.h>

#include <vector>

#include "runtime/kernel/services/process.h"
#include "runtime/kernel/services/system_path.h"

namespace kernel::process {

namespace {

std::optional<std::string> gbk_folder(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/') &&
           !(path.size() == 3 && path[1] == L':'))
        path.pop_back();
    return from_system_path(path);
}

// Waits for `process` to end while the program's windows keep painting
// themselves: a launcher that waits for the updater stays drawn when it is
// covered and shown again, instead of turning white and "not responding".
// Only paint messages are taken from the queue, so no click or key reaches
// the waiting program. Messages that other threads send (the frame's
// activation, the system's broadcasts) wake the wait too and are served by
// the PeekMessageW call: a sender is never left hanging, and the frame is
// drawn inactive when the started program comes to the front.
bool wait_painting(HANDLE process) {
    for (;;) {
        const DWORD woke =
            MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_PAINT | QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0)
            return true;
        if (woke != WAIT_OBJECT_0 + 1)
            return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT))
            DispatchMessageW(&message);
    }
}

}  // namespace

int32_t run(std::string_view gbk_command_line, bool wait) {
    if (split_command_line(gbk_command_line).empty())
        return -1;
    auto wide = to_system_path(gbk_command_line);
    if (!wide)
        return -1;
    // CreateProcessW may write into the command line it is given.
    std::vector<wchar_t> line(wide->begin(), wide->end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return -1;
    CloseHandle(started.hThread);
    int32_t result = 0;
    if (wait) {
        DWORD code = 0;
        if (!wait_painting(started.hProcess) || !GetExitCodeProcess(started.hProcess, &code))
            code = static_cast<DWORD>(-1);
        result = static_cast<int32_t>(code);
    }
    CloseHandle(started.hProcess);
    return result;
}

std::optional<std::string> desktop_folder() {
    wchar_t path[MAX_PATH];
    if (FAILED(
            SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path)))
        return std::nullopt;
    return gbk_folder(path);
}

namespace {

std::optional<std::wstring> own_executable() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::nullopt;
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::optional<std::string> program_folder() {
    auto own = own_executable();
    if (!own)
        return std::nullopt;
    return gbk_folder(parent_of(*own));
}

std::optional<std::string> program_file_name() {
    auto own = own_executable();
    if (!own)
        return std::nullopt;
    return from_system_path(own->substr(own->find_last_of(L"\\/") + 1));
}

int64_t steady_milliseconds() {
    return static_cast<int64_t>(GetTickCount64());
}

std::optional<std::string> current_folder() {
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    if (length == 0)
        return std::nullopt;
    std::wstring path(length, L'\0');
    const DWORD written = GetCurrentDirectoryW(length, path.data());
    if (written == 0 || written >= length)
        return std::nullopt;
    path.resize(written);
    return gbk_folder(path);
}

}  // namespace kernel::process
