#include <windows.h>

#include <atomic>

#include "runtime/kernel/services/profile_storage.h"

namespace kernel {

namespace {

using base::fail;

int64_t ticks(const FILETIME& time) {
    return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

FileStamp stamp_of(DWORD size_high, DWORD size_low, const FILETIME& written,
                   const FILETIME& created) {
    FileStamp stamp;
    stamp.size = (uint64_t{size_high} << 32) | size_low;
    stamp.write_time = ticks(written);
    stamp.change_time = ticks(created);
    return stamp;
}

base::Error::Cause error_of(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                   error == ERROR_INVALID_NAME
               ? base::Error::FileNotFound
               : base::Error::FileFailed;
}

}  // namespace

base::Result<FileStamp> stamp_file(const SystemPath& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return fail(error_of(GetLastError()));
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return fail(base::Error::FileNotFound);
    return stamp_of(data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime,
                    data.ftCreationTime);
}

base::Result<StoredFile> read_stored_file(const SystemPath& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return fail(error_of(GetLastError()));
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        CloseHandle(file);
        return fail(base::Error::FileFailed);
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        CloseHandle(file);
        return fail(base::Error::FileNotFound);
    }
    StoredFile stored;
    stored.stamp =
        stamp_of(info.nFileSizeHigh, info.nFileSizeLow, info.ftLastWriteTime, info.ftCreationTime);
    if (stored.stamp.size > kMaxProfileFileSize) {
        CloseHandle(file);
        return fail(base::Error::FileFailed);
    }
    stored.bytes.resize(static_cast<size_t>(stored.stamp.size));
    size_t done = 0;
    while (done < stored.bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(stored.bytes.size() - done);
        if (!ReadFile(file, stored.bytes.data() + done, want, &got, nullptr) || got == 0)
            break;
        done += got;
    }
    CloseHandle(file);
    if (done != stored.bytes.size())
        return fail(base::Error::FileFailed);
    return stored;
}

base::Result<FileStamp> replace_stored_file(const SystemPath& path, std::string_view bytes) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return fail(base::Error::FileFailed);

    static std::atomic<uint32_t> counter{0};
    const size_t separator = path.find_last_of(L"\\/:");
    const std::wstring folder =
        separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
    const std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = folder + L"." + name + L".tmp-" + std::to_wstring(GetCurrentProcessId()) +
                    L"-" + std::to_wstring(counter.fetch_add(1));
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return fail(error_of(GetLastError()));
    }
    if (file == INVALID_HANDLE_VALUE)
        return fail(base::Error::FileFailed);
    bool ok = true;
    while (ok && !bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk =
            static_cast<DWORD>(bytes.size() < (1u << 30) ? bytes.size() : (1u << 30));
        ok = WriteFile(file, bytes.data(), chunk, &written, nullptr) && written > 0;
        bytes.remove_prefix(written);
    }
    ok = CloseHandle(file) && ok;
    if (!ok || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary.c_str());
        return fail(base::Error::FileFailed);
    }
    return stamp_file(path);
}

int64_t storage_now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ticks(now);
}

int64_t storage_racy_window() {
    return 1'000'000;  // 100 ms: well above the system clock's step
}

}  // namespace kernel
