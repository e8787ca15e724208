#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "contract/runtime_abi.h"
#include "runtime/kernel/services/files.h"
#include "runtime/kernel/services/system_path.h"

namespace kernel::files {

namespace {

constexpr uint64_t kMaxFileSize = UINT32_MAX - sizeof(RtArrayHeader) - 1;
// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDifference = 116444736000000000;

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid())
            CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    bool close() {
        const bool ok = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

  private:
    HANDLE handle_;
};

// The path without separators at its end ("C:\" and "\" keep theirs).
std::optional<std::wstring> entry_path(std::string_view gbk_path) {
    auto path = to_system_path(gbk_path);
    if (!path)
        return std::nullopt;
    while (path->size() > 1 && (path->back() == L'\\' || path->back() == L'/') &&
           !(path->size() == 3 && (*path)[1] == L':'))
        path->pop_back();
    return path;
}

bool is_missing_error(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A read-only file is removed like any other, as on Linux, where the flag
// of a file does not protect it from removal.
bool remove_file(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(path.c_str()) != 0 || is_missing_error(GetLastError());
}

std::optional<std::wstring> final_path(const std::wstring& path) {
    Handle handle(CreateFileW(path.c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid())
        return std::nullopt;
    std::wstring name(1024, L'\0');
    DWORD length =
        GetFinalPathNameByHandleW(handle.get(), name.data(), static_cast<DWORD>(name.size()), 0);
    if (length >= name.size()) {
        name.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle.get(), name.data(),
                                           static_cast<DWORD>(name.size()), 0);
    }
    if (length == 0 || length >= name.size())
        return std::nullopt;
    name.resize(length);
    return name;
}

// Whether the subfolder `name` of `folder` is where it stands: a folder
// reached through a link the system does not mark as one (a Unix link under
// Wine) resolves elsewhere and is neither entered nor removed.
bool stands_in(const std::wstring& folder_final, const std::wstring& child, const wchar_t* name) {
    auto child_final = final_path(child);
    if (!child_final)
        return false;
    const std::wstring expected = folder_final + L"\\" + name;
    return CompareStringOrdinal(child_final->c_str(), static_cast<int>(child_final->size()),
                                expected.c_str(), static_cast<int>(expected.size()),
                                TRUE) == CSTR_EQUAL;
}

// Removes everything inside `folder`; false when anything stays. A link or
// junction (a reparse point) is removed itself, never entered.
bool empty_folder(const std::wstring& folder, int depth) {
    if (depth > 512)
        return false;
    auto folder_final = final_path(folder);
    if (!folder_final)
        return false;
    WIN32_FIND_DATAW data;
    const std::wstring pattern = folder + L"\\*";
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                     nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return is_missing_error(GetLastError()) || GetLastError() == ERROR_NO_MORE_FILES;
    bool all_gone = true;
    do {
        const std::wstring_view name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring child = folder + L"\\" + data.cFileName;
        const DWORD attributes = data.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                                     ? RemoveDirectoryW(child.c_str()) != 0
                                     : DeleteFileW(child.c_str()) != 0;
            all_gone = all_gone && removed;
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!stands_in(*folder_final, child, data.cFileName) ||
                !empty_folder(child, depth + 1)) {
                all_gone = false;
                continue;
            }
            if (attributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(child.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
            all_gone = RemoveDirectoryW(child.c_str()) != 0 && all_gone;
        } else {
            all_gone = remove_file(child, attributes) && all_gone;
        }
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return all_gone;
}

bool is_root(const std::wstring& path) {
    return path == L"\\" || path == L"/" ||
           (path.size() <= 3 && path.size() >= 2 && path[1] == L':');
}

// A new file beside `target` for its replacement: ".wjrt-tmp-" and a
// number, created exclusively and open for writing in `handle`.
std::optional<std::wstring> make_sibling_temporary(const std::wstring& target, HANDLE& handle) {
    const std::wstring folder = parent_of(target);
    const std::wstring prefix = (folder.empty() ? L"" : folder + L"\\") + L".wjrt-tmp-";
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = prefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++counter) + L"-" +
                                  std::to_wstring(GetTickCount());
        handle = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return name;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return std::nullopt;
    }
    return std::nullopt;
}

bool rename_over(const std::wstring& temporary, const std::wstring& target) {
    if (MoveFileExW(temporary.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temporary.c_str());
    return false;
}

bool is_folder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool exists(std::string_view gbk_path) {
    auto path = to_system_path(gbk_path);
    return path && GetFileAttributesW(path->c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool delete_file(std::string_view gbk_path) {
    auto path = entry_path(gbk_path);
    if (!path)
        return false;
    const DWORD attributes = GetFileAttributesW(path->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path->c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(path->c_str()) != 0;
}

bool move_file(std::string_view gbk_from, std::string_view gbk_to) {
    auto from = entry_path(gbk_from);
    auto to = entry_path(gbk_to);
    if (!from || !to)
        return false;
    const DWORD attributes = GetFileAttributesW(from->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    // Without MOVEFILE_REPLACE_EXISTING an existing target is refused; a
    // running program's file can be renamed in its folder.
    return MoveFileExW(from->c_str(), to->c_str(), 0) != 0;
}

bool append_file(std::string_view gbk_path, std::span<const uint8_t> bytes,
                 int64_t expected_length) {
    auto path = entry_path(gbk_path);
    if (!path)
        return false;
    HANDLE file = CreateFileW(path->c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok = GetFileInformationByHandle(file, &info) && GetFileType(file) == FILE_TYPE_DISK &&
              !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    LARGE_INTEGER size{};
    size.HighPart = static_cast<LONG>(info.nFileSizeHigh);
    size.LowPart = info.nFileSizeLow;
    if (ok && expected_length >= 0 && size.QuadPart != expected_length)
        ok = false;
    LARGE_INTEGER end{};
    ok = ok && SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_END);
    size_t written = 0;
    while (ok && written < bytes.size()) {
        const DWORD step = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 20));
        DWORD done = 0;
        ok = WriteFile(file, bytes.data() + written, step, &done, nullptr) && done == step;
        written += done;
    }
    if (!ok && written > 0) {
        // Nothing of a chunk that did not go in whole.
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
    }
    CloseHandle(file);
    return ok;
}

bool delete_folder(std::string_view gbk_path) {
    auto path = entry_path(gbk_path);
    if (!path || is_root(*path))
        return false;
    const DWORD attributes = GetFileAttributesW(path->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return is_missing_error(GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    empty_folder(*path, 0);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path->c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    RemoveDirectoryW(path->c_str());
    return GetFileAttributesW(path->c_str()) == INVALID_FILE_ATTRIBUTES &&
           is_missing_error(GetLastError());
}

bool create_folder(std::string_view gbk_path) {
    auto path = entry_path(gbk_path);
    if (!path)
        return false;
    if (is_folder(*path))
        return true;
    // The missing folders above it first.
    const std::wstring parent = parent_of(*path);
    if (!parent.empty() && parent != *path && !is_folder(parent)) {
        auto gbk_parent = from_system_path(parent);
        if (gbk_parent)
            create_folder(*gbk_parent);
    }
    CreateDirectoryW(path->c_str(), nullptr);
    return is_folder(*path);
}

bool copy_file(std::string_view gbk_from, std::string_view gbk_to) {
    auto from = to_system_path(gbk_from);
    auto to = entry_path(gbk_to);
    if (!from || !to || is_folder(*to))
        return false;
    const DWORD attributes = GetFileAttributesW(from->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    HANDLE raw = INVALID_HANDLE_VALUE;
    auto temporary = make_sibling_temporary(*to, raw);
    if (!temporary)
        return false;
    CloseHandle(raw);
    // CopyFileW keeps the last-write time and the attributes.
    if (!CopyFileW(from->c_str(), temporary->c_str(), FALSE)) {
        DeleteFileW(temporary->c_str());
        return false;
    }
    return rename_over(*temporary, *to);
}

std::optional<std::vector<uint8_t>> read_file(std::string_view gbk_path) {
    auto path = to_system_path(gbk_path);
    if (!path)
        return std::nullopt;
    Handle file(CreateFileW(path->c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > kMaxFileSize)
        return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        if (!ReadFile(file.get(), bytes.data() + done, want, &got, nullptr))
            return std::nullopt;
        if (got == 0)
            break;  // shorter than it was a moment ago
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

bool write_file(std::string_view gbk_path, std::span<const uint8_t> bytes) {
    auto path = entry_path(gbk_path);
    if (!path || is_folder(*path))
        return false;
    HANDLE raw = INVALID_HANDLE_VALUE;
    auto temporary = make_sibling_temporary(*path, raw);
    if (!temporary)
        return false;
    Handle file(raw);
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD written = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        ok = WriteFile(file.get(), bytes.data() + done, want, &written, nullptr) && written > 0;
        done += written;
    }
    ok = ok && FlushFileBuffers(file.get());
    ok = file.close() && ok;
    if (!ok) {
        DeleteFileW(temporary->c_str());
        return false;
    }
    return rename_over(*temporary, *path);
}

std::optional<int64_t> last_write_seconds(std::string_view gbk_path) {
    auto path = to_system_path(gbk_path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!path || !GetFileAttributesExW(path->c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    const int64_t ticks = static_cast<int64_t>(uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
                                               data.ftLastWriteTime.dwLowDateTime);
    // Whole seconds, rounded down also before 1970.
    int64_t since_1970 = ticks - kEpochDifference;
    int64_t seconds = since_1970 / 10000000;
    if (since_1970 % 10000000 < 0)
        --seconds;
    return seconds;
}

int64_t file_size(std::string_view gbk_path) {
    auto path = to_system_path(gbk_path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!path || !GetFileAttributesExW(path->c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return static_cast<int64_t>(uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow);
}

}  // namespace kernel::files
