// What the loader stub needs of the operating system. One implementation per
// system: os_posix.cpp and os_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace loader::os {

#ifdef _WIN32
using PathChar = wchar_t;
#else
using PathChar = char;
#endif
// A path in the system's own encoding: UTF-16 on Windows, UTF-8 on Linux.
using Path = std::basic_string<PathChar>;

// The running executable's file.
std::optional<Path> own_executable();

class ReadOnlyFile {
  public:
    virtual ~ReadOnlyFile() = default;
    virtual std::optional<uint64_t> size() = 0;
    // Reads exactly out.size() bytes at `offset`, or fails.
    virtual bool read_at(uint64_t offset, std::span<uint8_t> out) = 0;
    // The whole file mapped read-only, for as long as this object lives:
    // only the pages that are read are ever touched.
    virtual std::optional<std::span<const uint8_t>> map() = 0;
};

// Opens an existing file for reading, sharing read access.
std::unique_ptr<ReadOnlyFile> open_read_only(const Path& path);

// The user's temporary folder, ending with a separator.
std::optional<Path> temp_folder();

// folder + an ANSI (GBK) name; nullopt when the name cannot be converted or
// the result is longer than the system's path limit.
std::optional<Path> join(const Path& folder, std::string_view ansi_name);

inline Path with_separator(Path folder) {
#ifdef _WIN32
    folder.push_back(L'\\');
#else
    folder.push_back('/');
#endif
    return folder;
}

// Creates the runtime folder for this user alone, or checks an existing one:
// a real folder (no link), owned by this user, not writable by others.
bool prepare_private_folder(const Path& folder);

// What identifies a file's present state, for the warm-start check.
struct FileIdentity {
    uint64_t size = 0;
    uint64_t modified = 0;  // last-write time in the system's own unit
    uint64_t file_id = 0;   // inode or file index
    bool operator==(const FileIdentity&) const = default;
};

// A regular file (no link) owned by this user and not writable by others.
std::optional<FileIdentity> identify_trusted_file(const Path& path);

enum class InstallResult { Unchanged, Written, Failed };

// Makes `path` hold exactly `content`: a file that already holds it is left
// alone (a running instance may have it loaded); otherwise the content goes
// to a sibling temporary file that is renamed over the target. Never follows
// a link at `path`.
InstallResult install_file(const Path& path, std::span<const uint8_t> content);

// A small trusted file's bytes (at most max_size), or nothing.
std::optional<std::vector<uint8_t>> read_trusted_file(const Path& path, size_t max_size);

// Loads a library by absolute path and looks up an export; nullptr on failure.
void* load_library(const Path& path);
void* find_export(void* library, const char* name);

// The program image this executable carries.
const void* find_program_image(ReadOnlyFile& own_file);

// Shows a loader failure: the "Error" message box on Windows, a line on
// standard error on Linux; and a transcript line when automation is on.
void report_failure(const char* message);

}  // namespace loader::os
