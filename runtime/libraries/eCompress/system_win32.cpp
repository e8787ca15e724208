#include <windows.h>

// iowin32.h takes what ioapi.h declares.
#include <minizip/ioapi.h>

#include <minizip/iowin32.h>

#include <atomic>
#include <ctime>

#include "base/encoding.h"
#include "runtime/libraries/eCompress/system.h"

namespace ecompress {

namespace {

// 100-nanosecond ticks from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochTicks = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

FILETIME to_file_time(int64_t unix_seconds) {
    const uint64_t ticks = static_cast<uint64_t>(unix_seconds * kTicksPerSecond + kEpochTicks);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

int64_t from_file_time(const FILETIME& time) {
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                               time.dwLowDateTime);
    const int64_t since = ticks - kEpochTicks;
    // Rounded down, also before 1970.
    return since >= 0 ? since / kTicksPerSecond
                      : -((-since + kTicksPerSecond - 1) / kTicksPerSecond);
}

}  // namespace

std::optional<NativePath> native_path(std::string_view gbk) {
    if (gbk.empty())
        return NativePath();
    std::optional<NativePath> wide = base::gbk_to_wide(gbk);
    if (!wide || wide->find(L'\0') != NativePath::npos)
        return std::nullopt;
    return wide;
}

NativePath join(const NativePath& folder, const NativePath& name) {
    if (folder.empty())
        return name;
    if (folder.back() == L'\\' || folder.back() == L'/')
        return folder + name;
    return folder + L"\\" + name;
}

NativePath parent_of(const NativePath& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == NativePath::npos) {
        // "C:name" lies in the drive's current folder.
        if (path.size() >= 2 && path[1] == L':')
            return path.substr(0, 2);
        return L".";
    }
    // Keep the separator of a root ("C:\", "\").
    if (slash == 0 || (slash == 2 && path[1] == L':'))
        return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

void fill_file_functions(zlib_filefunc64_def* functions) {
    fill_win32_filefunc64W(functions);
}

std::optional<FileFacts> regular_file(const NativePath& path) {
    WIN32_FILE_ATTRIBUTE_DATA facts;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &facts) ||
        (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::nullopt;
    return FileFacts{from_file_time(facts.ftLastWriteTime),
                     (static_cast<uint64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow};
}

bool is_folder(const NativePath& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool make_folders(const NativePath& path, std::vector<NativePath>& made) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const NativePath parent = parent_of(path);
    if (parent != path && parent != L"." && !make_folders(parent, made))
        return false;
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        made.push_back(path);
        return true;
    }
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

bool remove_empty_folder(const NativePath& path) {
    return RemoveDirectoryW(path.c_str()) != 0;
}

namespace {

class WinInput final : public InputFile {
  public:
    explicit WinInput(HANDLE handle) : handle_(handle) {}
    ~WinInput() override { CloseHandle(handle_); }
    int64_t read(void* buffer, size_t size) override {
        DWORD got = 0;
        const DWORD want = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        if (!ReadFile(handle_, buffer, want, &got, nullptr))
            return -1;
        return got;
    }

  private:
    HANDLE handle_;
};

class WinSource final : public ArchiveSource {
  public:
    WinSource(HANDLE handle, uint64_t size) : handle_(handle), size_(size) {}
    ~WinSource() override { CloseHandle(handle_); }
    uint64_t size() const override { return size_; }
    bool read_at(uint64_t offset, void* buffer, size_t size) const override {
        auto* at = static_cast<char*>(buffer);
        while (size > 0) {
            // A synchronous handle reads at the offset the OVERLAPPED names.
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(offset);
            where.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD want = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
            DWORD got = 0;
            if (!ReadFile(handle_, at, want, &got, &where) || got == 0)
                return false;
            at += got;
            offset += got;
            size -= got;
        }
        return true;
    }

  private:
    HANDLE handle_;
    uint64_t size_;
};

class WinPending final : public PendingFile {
  public:
    WinPending(HANDLE handle, NativePath path, NativePath target)
        : handle_(handle), path_(std::move(path)), target_(std::move(target)) {}
    ~WinPending() override {
        close();
        if (!committed_)
            DeleteFileW(path_.c_str());
    }
    const NativePath& path() const override { return path_; }
    bool write(const void* data, size_t size) override {
        const auto* at = static_cast<const char*>(data);
        while (size > 0) {
            const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
            DWORD put = 0;
            if (!WriteFile(handle_, at, chunk, &put, nullptr) || put == 0)
                return false;
            at += put;
            size -= put;
        }
        return true;
    }
    bool close() override {
        if (handle_ == INVALID_HANDLE_VALUE)
            return true;
        const BOOL closed = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed != 0;
    }
    bool set_last_write(int64_t unix_seconds) override {
        HANDLE handle = CreateFileW(path_.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        const FILETIME time = to_file_time(unix_seconds);
        const BOOL set = SetFileTime(handle, nullptr, nullptr, &time);
        CloseHandle(handle);
        return set != 0;
    }
    bool commit() override {
        if (!close() || !MoveFileExW(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING))
            return false;
        committed_ = true;
        return true;
    }

  private:
    HANDLE handle_;
    NativePath path_;
    NativePath target_;
    bool committed_ = false;
};

std::atomic<unsigned> pending_counter{0};

}  // namespace

std::unique_ptr<InputFile> InputFile::open(const NativePath& path) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    return std::make_unique<WinInput>(handle);
}

std::unique_ptr<ArchiveSource> open_file_source(const NativePath& path) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size) || size.QuadPart < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<WinSource>(handle, static_cast<uint64_t>(size.QuadPart));
}

std::unique_ptr<PendingFile> PendingFile::create_beside(const NativePath& target) {
    const NativePath folder = parent_of(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const NativePath path =
            join(folder, L".ecompress-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(pending_counter.fetch_add(1)) + L".tmp");
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return std::make_unique<WinPending>(handle, path, target);
        if (GetLastError() != ERROR_FILE_EXISTS)
            return nullptr;
    }
    return nullptr;
}

std::optional<LocalTime> to_local_time(int64_t unix_seconds) {
    const FILETIME utc = to_file_time(unix_seconds);
    FILETIME local;
    SYSTEMTIME parts;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &parts))
        return std::nullopt;
    return LocalTime{parts.wYear, parts.wMonth,  parts.wDay,
                     parts.wHour, parts.wMinute, parts.wSecond};
}

std::optional<int64_t> from_local_time(const LocalTime& time) {
    SYSTEMTIME parts{};
    parts.wYear = static_cast<WORD>(time.year);
    parts.wMonth = static_cast<WORD>(time.month);
    parts.wDay = static_cast<WORD>(time.day);
    parts.wHour = static_cast<WORD>(time.hour);
    parts.wMinute = static_cast<WORD>(time.minute);
    parts.wSecond = static_cast<WORD>(time.second);
    FILETIME local;
    FILETIME utc;
    if (!SystemTimeToFileTime(&parts, &local) || !LocalFileTimeToFileTime(&local, &utc))
        return std::nullopt;
    return from_file_time(utc);
}

}  // namespace ecompress
