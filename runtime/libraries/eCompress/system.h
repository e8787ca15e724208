// What the archive commands need of the operating system: paths in the
// system's own form, reading a file, facts about a file, and new files that
// appear under their names only once they are complete. One implementation
// per system (system_posix.cpp, system_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <minizip/ioapi.h>

#include "runtime/libraries/eCompress/archive_source.h"

namespace ecompress {

// A path as the system takes it: UTF-8 with '/' on Linux, UTF-16 on Windows.
#if defined(_WIN32)
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif

// The system's path for a GBK path of the program; a backslash separates
// folders on every system. Nullopt when the text is not valid GBK.
std::optional<NativePath> native_path(std::string_view gbk);
// `name` (a bare name, already native) inside `folder`.
NativePath join(const NativePath& folder, const NativePath& name);
// The folder part of a path ("." when it has none).
NativePath parent_of(const NativePath& path);

// minizip's file functions for archives named by native paths: the name
// that minizip passes along is the address of the path's characters.
void fill_file_functions(zlib_filefunc64_def* functions);

struct FileFacts {
    int64_t last_write = 0;  // seconds since 1970-01-01 UTC, rounded down
    uint64_t size = 0;
};
// Facts of a regular file (links followed); nullopt for anything else.
std::optional<FileFacts> regular_file(const NativePath& path);
// Whether the path names a folder (links followed).
bool is_folder(const NativePath& path);
// Makes the folder and the folders above it; true when it exists afterwards.
// The folders it made are added to `made`, the outermost first.
bool make_folders(const NativePath& path, std::vector<NativePath>& made);
// Removes a folder that is empty; false when it is not (or not there).
bool remove_empty_folder(const NativePath& path);

// A file opened for reading.
class InputFile {
  public:
    static std::unique_ptr<InputFile> open(const NativePath& path);
    virtual ~InputFile() = default;
    // Up to `size` bytes; 0 at the end, -1 on an error.
    virtual int64_t read(void* buffer, size_t size) = 0;
};

// An archive file read at offsets, for archives too large for memory;
// `size` is the file's size when it was opened.
std::unique_ptr<ArchiveSource> open_file_source(const NativePath& path);

// A new file written beside its target under a name of its own, so that
// nobody sees it half written: commit() gives it the target's name,
// replacing what was there; without a commit it is removed.
class PendingFile {
  public:
    // A fresh, exclusively created file in the target's folder.
    static std::unique_ptr<PendingFile> create_beside(const NativePath& target);
    virtual ~PendingFile() = default;
    // The temporary file's own path (for writers that open it themselves).
    virtual const NativePath& path() const = 0;
    virtual bool write(const void* data, size_t size) = 0;
    // Closes the file this object holds open (before someone else writes it).
    virtual bool close() = 0;
    // The last-write time to give the file before it is renamed.
    virtual bool set_last_write(int64_t unix_seconds) = 0;
    virtual bool commit() = 0;
};

// Broken-down local time of a moment, and back: ZIP's DOS times are local.
struct LocalTime {
    int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
std::optional<LocalTime> to_local_time(int64_t unix_seconds);
std::optional<int64_t> from_local_time(const LocalTime& time);

}  // namespace ecompress
