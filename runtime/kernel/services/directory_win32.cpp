#include <windows.h>

#include <string>

#include "runtime/kernel/services/file_search.h"

namespace kernel {

namespace {

constexpr UINT kGbk = 936;

std::wstring widen(std::string_view gbk) {
    int length = MultiByteToWideChar(kGbk, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(kGbk, 0, gbk.data(), static_cast<int>(gbk.size()), wide.data(), length);
    return wide;
}

std::optional<std::string> narrow(const wchar_t* wide) {
    BOOL lossy = FALSE;
    int length = WideCharToMultiByte(kGbk, 0, wide, -1, nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy)
        return std::nullopt;
    std::string gbk(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(kGbk, 0, wide, -1, gbk.data(), length, nullptr, nullptr);
    gbk.resize(static_cast<size_t>(length - 1));
    return gbk;
}

}  // namespace

std::optional<std::vector<DirectoryEntry>> list_directory(std::string_view gbk_folder) {
    std::wstring pattern = widen(gbk_folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/')
        pattern.push_back(L'\\');
    pattern += L"*";
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? std::optional(std::vector<DirectoryEntry>{})
                                                      : std::nullopt;
    std::vector<DirectoryEntry> entries;
    do {
        std::wstring_view name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (auto gbk = narrow(data.cFileName))
            entries.push_back({std::move(*gbk), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return entries;
}

}  // namespace kernel
