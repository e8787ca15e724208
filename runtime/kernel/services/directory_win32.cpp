#include <windows.h>

#include <string>

#include "base/encoding.h"
#include "runtime/kernel/services/file_search.h"

namespace kernel {

std::optional<std::vector<DirectoryEntry>> list_directory(std::string_view gbk_folder) {
    std::wstring pattern = base::gbk_to_wide_replacing(gbk_folder);
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
        if (auto gbk = base::wide_to_gbk(data.cFileName))
            entries.push_back(
                {std::move(*gbk), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return entries;
}

}  // namespace kernel
