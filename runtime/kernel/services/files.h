// Files and folders for the kernel commands: paths are GBK texts of the image
// world (see system_path.h); what differs between the systems lives in
// files_posix.cpp and files_win32.cpp, the rest in files.cpp.
//
// Every path that fails to convert (empty, not GBK) is treated as a file that
// does not exist.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kernel::files {

// A file or a folder (a link counts as what it points to).
bool exists(std::string_view gbk_path);

// Removes one file (or a link, never what it points to); false for a folder,
// a missing file, or one the system keeps.
bool delete_file(std::string_view gbk_path);

// Removes the folder and everything in it, depth first. A link or junction
// inside is removed itself; nothing outside the folder is ever touched. True
// when the folder is gone afterwards (also when it was never there); false
// when anything stays, the rest being removed as far as possible. A path that
// names a file or a link is not a folder: false, and it stays.
bool delete_folder(std::string_view gbk_path);

// Creates the folder and any missing folders above it. True when the folder
// exists afterwards.
bool create_folder(std::string_view gbk_path);

// Copies `from` over `to` through a sibling temporary file of `to` and a
// rename, so `to` is either its old or its whole new content. `to`'s folder
// must exist (none is created).
bool copy_file(std::string_view gbk_from, std::string_view gbk_to);

// Renames the plain file `from` to `to` (the same volume; on Windows also a
// running program's file). False for a folder or a link, or when `to`
// exists: nothing is replaced.
bool move_file(std::string_view gbk_from, std::string_view gbk_to);

// Adds `bytes` at the end of the existing plain file (not a folder, link or
// device) when its length is `expected_length` (-1: any); a write that
// cannot be completed is cut back, so the file keeps its old content.
bool append_file(std::string_view gbk_path, std::span<const uint8_t> bytes,
                 int64_t expected_length);

// The whole content; nullopt when unreadable or not a file.
std::optional<std::vector<uint8_t>> read_file(std::string_view gbk_path);

// Replaces the file's content through a sibling temporary file and a rename.
// The folder must exist.
bool write_file(std::string_view gbk_path, std::span<const uint8_t> bytes);

// The last-write time in whole seconds since 1970-01-01 00:00:00 UTC.
std::optional<int64_t> last_write_seconds(std::string_view gbk_path);

// "YYYY-MM-DD HH:MM:SS" of a time in seconds since 1970 (UTC, proleptic
// Gregorian calendar; years outside 0..9999 are clamped to its ends).
std::string time_text(int64_t unix_seconds);

// The size in bytes of a file; -1 when it does not exist or is a folder.
int64_t file_size(std::string_view gbk_path);

// The lines of a text: split at LF, a CR right before the LF dropped, a last
// line without a line end kept; no line after a final line end.
std::vector<std::string> split_lines(std::span<const uint8_t> bytes);

// Text files opened for reading line by line. Each open file is read whole
// at its opening, so no system handle stays open between commands and the
// file can be replaced meanwhile; handles are never 0 and never reused.
class LineFiles {
  public:
    // The handle of the opened file, or 0 when it cannot be read.
    int32_t open(std::string_view gbk_path);
    // Whether `handle` names an open file.
    bool is_open(int32_t handle) const { return files_.count(handle) != 0; }
    // The next line, or nullopt after the last one. The handle must be open.
    std::optional<std::string> next(int32_t handle);
    // Closes an open handle; false when it names none.
    bool close(int32_t handle);
    void close_all() { files_.clear(); }

  private:
    struct File {
        std::vector<std::string> lines;
        size_t position = 0;
    };
    std::map<int32_t, File> files_;
    int32_t next_handle_ = 1;
};

}  // namespace kernel::files
