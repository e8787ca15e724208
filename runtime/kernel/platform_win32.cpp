#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/automation/transcript.h"
#include "runtime/kernel/platform.h"

namespace kernel::platform {

namespace {

std::wstring widen(std::string_view text, UINT code_page) {
    int length =
        MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            length);
    return wide;
}

std::string utf8_of(const std::wstring& wide) {
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                            length, nullptr, nullptr);
    return utf8;
}

constexpr UINT kGbk = 936;

}  // namespace

void* load_library(const std::string& utf8_path) {
    std::wstring path = widen(utf8_path, CP_UTF8);
    return reinterpret_cast<void*>(
        LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void* find_export(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void show_error(std::string_view gbk_text) {
    const std::wstring text = widen(gbk_text, kGbk);
    if (automation::transcript_enabled()) {
        automation::append_transcript_line(
            automation::message_box_line("Error", "error", "ok", utf8_of(text)));
        return;
    }
    MessageBoxW(nullptr, text.c_str(), L"Error", MB_ICONERROR);
}

void end_process(int code) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace kernel::platform
