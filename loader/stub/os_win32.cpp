#include <windows.h>

#include <cstring>

#include "base/automation/transcript.h"
#include "base/executable/image_section.h"
#include "base/encoding.h"
#include "loader/package/reader.h"
#include "loader/stub/os.h"

namespace loader::os {

namespace {

// Paths stay below MAX_PATH so that every API, with or without long-path
// support, takes them.
constexpr size_t kMaxPathChars = MAX_PATH - 1;

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid())
            CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

  private:
    HANDLE handle_;
};

bool read_fully(HANDLE file, uint64_t offset, std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD want = static_cast<DWORD>(std::min<size_t>(out.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file, out.data() + done, want, &got, &at) || got == 0)
            return false;
        done += got;
    }
    return true;
}

bool write_fully(HANDLE file, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(file, bytes.data() + done, want, &put, nullptr) || put == 0)
            return false;
        done += put;
    }
    return true;
}

class Win32File final : public ReadOnlyFile {
  public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}
    ~Win32File() override {
        if (view_ != nullptr)
            UnmapViewOfFile(view_);
    }
    std::optional<uint64_t> size() override {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(handle_.get(), &size))
            return std::nullopt;
        return static_cast<uint64_t>(size.QuadPart);
    }
    bool read_at(uint64_t offset, std::span<uint8_t> out) override {
        return read_fully(handle_.get(), offset, out);
    }
    std::optional<std::span<const uint8_t>> map() override {
        if (view_ == nullptr) {
            auto file_size = size();
            if (!file_size || *file_size == 0 || *file_size > SIZE_MAX)
                return std::nullopt;
            Handle mapping(
                CreateFileMappingW(handle_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
            if (!mapping.valid())
                return std::nullopt;
            // The view keeps the mapping alive after its handle is closed.
            view_ = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
            if (view_ == nullptr)
                return std::nullopt;
            mapped_size_ = static_cast<size_t>(*file_size);
        }
        return std::span<const uint8_t>(static_cast<const uint8_t*>(view_), mapped_size_);
    }

  private:
    Handle handle_;
    void* view_ = nullptr;
    size_t mapped_size_ = 0;
};

// Information about the file itself, never about the target of a link.
std::optional<BY_HANDLE_FILE_INFORMATION> plain_file_information(const Path& path) {
    Handle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &info))
        return std::nullopt;
    return info;
}

bool is_plain_file(const BY_HANDLE_FILE_INFORMATION& info) {
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

uint64_t file_size_of(const BY_HANDLE_FILE_INFORMATION& info) {
    return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

bool same_content(HANDLE file, std::span<const uint8_t> content) {
    static uint8_t chunk[65536];
    size_t offset = 0;
    while (offset < content.size()) {
        size_t want = std::min(sizeof chunk, content.size() - offset);
        if (!read_fully(file, offset, {chunk, want}) ||
            std::memcmp(chunk, content.data() + offset, want) != 0)
            return false;
        offset += want;
    }
    return true;
}

Path temporary_sibling(const Path& path) {
    static unsigned counter = 0;
    Path folder = path.substr(0, path.rfind(L'\\') + 1);
    wchar_t name[64];
    wsprintfW(name, L".loader-tmp-%lu-%u", GetCurrentProcessId(), counter++);
    return folder + name;
}

}  // namespace

std::optional<Path> own_executable() {
    static wchar_t buffer[32768];
    DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    if (length == 0 || length >= 32768)
        return std::nullopt;
    return Path(buffer, length);
}

std::unique_ptr<ReadOnlyFile> open_read_only(const Path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    return std::make_unique<Win32File>(file);
}

std::optional<Path> temp_folder() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return std::nullopt;
    Path folder(buffer, length);
    if (folder.back() != L'\\')
        folder.push_back(L'\\');
    return folder;
}

std::optional<Path> join(const Path& folder, std::string_view ansi_name) {
    if (ansi_name.empty())
        return folder;
    const std::optional<std::wstring> name = base::gbk_to_wide(ansi_name);
    if (!name || folder.size() + name->size() > kMaxPathChars)
        return std::nullopt;
    return folder + *name;
}

bool prepare_private_folder(const Path& folder) {
    // The temporary folder is the user's own on Windows; the folder is
    // created with the default (owner's) security and must not be a link.
    CreateDirectoryW(folder.c_str(), nullptr);
    DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

std::optional<FileIdentity> identify_trusted_file(const Path& path) {
    auto info = plain_file_information(path);
    if (!info || !is_plain_file(*info))
        return std::nullopt;
    uint64_t modified = (static_cast<uint64_t>(info->ftLastWriteTime.dwHighDateTime) << 32) |
                        info->ftLastWriteTime.dwLowDateTime;
    uint64_t file_id = (static_cast<uint64_t>(info->nFileIndexHigh) << 32) | info->nFileIndexLow;
    return FileIdentity{file_size_of(*info), modified, file_id};
}

InstallResult install_file(const Path& path, std::span<const uint8_t> content) {
    if (auto info = plain_file_information(path)) {
        if (!is_plain_file(*info))
            return InstallResult::Failed;
        if (file_size_of(*info) == content.size()) {
            // A library that a running instance has loaded can still be read.
            Handle present(CreateFileW(
                path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (present.valid() && same_content(present.get(), content))
                return InstallResult::Unchanged;
        }
    }
    Path temporary = temporary_sibling(path);
    bool written = false;
    {
        Handle out(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.valid())
            return InstallResult::Failed;
        written = write_fully(out.get(), content);
    }
    // Fails while a running program holds the target: its content differs
    // from the package, so the start cannot go on with it.
    if (!written || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary.c_str());
        return InstallResult::Failed;
    }
    return InstallResult::Written;
}

std::optional<std::vector<uint8_t>> read_trusted_file(const Path& path, size_t max_size) {
    auto info = plain_file_information(path);
    if (!info || !is_plain_file(*info) || file_size_of(*info) > max_size)
        return std::nullopt;
    Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    std::vector<uint8_t> bytes(file_size_of(*info));
    if (!file.valid() || !read_fully(file.get(), 0, bytes))
        return std::nullopt;
    return bytes;
}

void* load_library(const Path& path) {
    return reinterpret_cast<void*>(
        LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void* find_export(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

const void* find_program_image(ReadOnlyFile&) {
    // The system loader has mapped the image section with the executable.
    auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        char name[IMAGE_SIZEOF_SHORT_NAME + 1] = {};
        std::memcpy(name, section->Name, IMAGE_SIZEOF_SHORT_NAME);
        if (std::strcmp(name, kImageSectionName) == 0 && section->Misc.VirtualSize != 0)
            return base + section->VirtualAddress;
    }
    return nullptr;
}

void report_failure(const char* message) {
    if (automation::transcript_enabled()) {
        // Under automation the script takes the user's part: the box is
        // recorded and answered with its only button.
        automation::append_transcript_line(
            automation::message_box_line("Error", "error", "ok", message));
        return;
    }
    MessageBoxA(nullptr, message, "Error", MB_ICONERROR);
}

}  // namespace loader::os
