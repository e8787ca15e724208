// Message boxes, answered by the script's button under automation, and the
// folder dialog under a script.
#include <cwchar>

#include "base/automation/transcript.h"
#include "runtime/kernel/ui/transcript_lines.h"
#include "runtime/kernel/ui/win32/backend.h"
#include "runtime/kernel/ui/win32/text.h"

namespace kernel::ui::win32 {

namespace {

int32_t g_answer = 0;
HHOOK g_answer_hook = nullptr;

// Presses the script's answer in the message box as soon as it is made.
LRESULT CALLBACK answer_hook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND) {
        HWND hwnd = reinterpret_cast<HWND>(wparam);
        wchar_t name[16] = {};
        GetClassNameW(hwnd, name, 16);
        if (std::wcscmp(name, L"#32770") == 0 && g_answer != 0) {
            PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(g_answer, BN_CLICKED), 0);
            g_answer = 0;
        }
    }
    return CallNextHookEx(g_answer_hook, code, wparam, lparam);
}

}  // namespace

int32_t Win32Interface::message_box(const MessageBoxRequest& request) {
    const std::string line = message_box_line(request);
    int32_t scripted_answer = 0;
    if (scripted_) {
        auto answer = driver_.answer(request);
        if (answer.is_error()) {
            ::automation::append_transcript_line(line);
            host_.automation_failure(answer.error());
        }
        scripted_answer = answer.value();
    }
    HWND owner = nullptr;
    if (WindowState* front = system_.active_window()) {
        if (WindowView* v = view(front->id()))
            owner = v->hwnd;
    }
    UINT style = static_cast<UINT>(request.buttons | request.icon);
    if (scripted_answer != 0) {
        g_answer = scripted_answer;
        g_answer_hook = SetWindowsHookExW(WH_CBT, answer_hook, nullptr, GetCurrentThreadId());
    }
    int32_t answer =
        MessageBoxW(owner, from_gbk(request.text).c_str(),
                    request.title.empty() ? nullptr : from_gbk(request.title).c_str(), style);
    if (g_answer_hook != nullptr) {
        UnhookWindowsHookEx(g_answer_hook);
        g_answer_hook = nullptr;
    }
    // The box answers as it was told; should it not have come up, the
    // script's answer stands.
    if (scripted_answer != 0)
        answer = scripted_answer;
    else if (answer == 0)
        answer = RT_MB_ANSWER_CANCEL;
    ::automation::append_transcript_line(line + " answer=" + answer_name(answer));
    return answer;
}

std::optional<std::string> Win32Interface::choose_folder(const FolderRequest& request) {
    if (!scripted_)
        return std::nullopt;
    return answer_folder_dialog(driver_, host_, request);
}
}  // namespace kernel::ui::win32
