#include <windows.h>

#include <string>

#include "base/automation/transcript.h"

namespace automation {

namespace {

std::wstring transcript_path() {
    wchar_t buffer[32768];
    DWORD length = GetEnvironmentVariableW(L"WJRT_TRANSCRIPT", buffer, 32768);
    if (length == 0 || length >= 32768)
        return {};
    return std::wstring(buffer, length);
}

}  // namespace

bool transcript_enabled() {
    return !transcript_path().empty();
}

void append_transcript_line(std::string_view line) {
    std::wstring path = transcript_path();
    if (path.empty())
        return;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string record(line);
    record += '\n';
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace automation
