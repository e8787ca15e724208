#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/automation/transcript.h"
#include "base/encoding.h"
#include "runtime/kernel/platform.h"

namespace kernel::platform {

void* load_library(const std::string& utf8_path) {
    std::wstring path = base::utf8_to_wide(utf8_path);
    return reinterpret_cast<void*>(
        LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void* find_export(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void show_error(std::string_view gbk_text) {
    const std::wstring text = base::gbk_to_wide_replacing(gbk_text);
    if (automation::transcript_enabled()) {
        automation::append_transcript_line(
            automation::message_box_line("Error", "error", "ok", base::wide_to_utf8(text)));
        return;
    }
    MessageBoxW(nullptr, text.c_str(), L"Error", MB_ICONERROR);
}

void end_process(int code) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace kernel::platform
