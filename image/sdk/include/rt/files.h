// Files and folders through the kernel commands. Paths are GBK texts with a
// backslash between folders, on every system.
//
//   if (!rt::file_exists(path)) ...
//   rt::LineReader lines(manifest);
//   rt::Text line;
//   while (lines.next(line)) ...
#pragma once

#include <stdint.h>

#include "rt/args.h"
#include "rt/array.h"
#include "rt/slots.h"
#include "rt/text.h"

namespace rt {

namespace files_detail {

template <typename Block>
int64_t command(int32_t number, const Block& block) {
    return rt_kernel_command(number, block.get());
}

inline bool path_command(int32_t number, const char* path) {
    return command(number, rt::arguments(rt::text(path))) != 0;
}

}  // namespace files_detail

// Whether a file or a folder is there.
inline bool file_exists(const char* path) {
    return files_detail::path_command(RT_KERNEL_FILE_EXISTS, path);
}

// Removes one file; false when it is not there or stays.
inline bool delete_file(const char* path) {
    return files_detail::path_command(RT_KERNEL_DELETE_FILE, path);
}

// Removes the folder with everything in it (links inside are removed, never
// followed). True when it is gone, also when it was never there; false when
// anything stays.
inline bool delete_folder(const char* path) {
    return files_detail::path_command(RT_KERNEL_DELETE_FOLDER, path);
}

// Creates the folder and the folders above it that are missing. True when it
// exists afterwards.
inline bool create_folder(const char* path) {
    return files_detail::path_command(RT_KERNEL_CREATE_FOLDER, path);
}

// Copies a file over `to` (its folder must exist); `to` ends with its old or
// the whole new content, never half of it. The copy keeps the last-write
// time.
inline bool copy_file(const char* from, const char* to) {
    return files_detail::command(RT_KERNEL_COPY_FILE,
                                 rt::arguments(rt::text(from), rt::text(to))) != 0;
}

// Renames the plain file `from` to `to` on the same volume (on Windows also
// a running program's file); false for a folder or a link, or when `to`
// exists, which is never replaced.
inline bool move_file(const char* from, const char* to) {
    return files_detail::command(RT_KERNEL_MOVE_FILE,
                                 rt::arguments(rt::text(from), rt::text(to))) != 0;
}

// Adds the bytes at the end of an existing plain file whose length is
// `length_before` (-1: any), opening and closing it within the call; false,
// the file as it was, when it is no plain file, has another length or
// cannot take the bytes whole.
inline bool append_file(const char* path, const Array<uint8_t>& bytes, int32_t length_before) {
    return files_detail::command(RT_KERNEL_APPEND_FILE,
                                 rt::arguments(rt::text(path), rt::bytes(bytes.block()),
                                               rt::integer(length_before))) != 0;
}

// The whole file; an empty array when it cannot be read.
inline Array<uint8_t> read_file(const char* path) {
    return Array<uint8_t>::adopt(static_cast<intptr_t>(
        files_detail::command(RT_KERNEL_READ_FILE, rt::arguments(rt::text(path)))));
}

// The whole file as text (up to its first zero byte); empty when it cannot
// be read.
inline Text read_text_file(const char* path) {
    return Text::adopt(static_cast<intptr_t>(
        files_detail::command(RT_KERNEL_READ_TEXT_FILE, rt::arguments(rt::text(path)))));
}

// Creates or replaces the file with the text (without its zero) or the
// bytes, through a temporary file beside it: a failure leaves the old
// content. The folder must exist.
inline bool write_file(const char* path, const char* text) {
    return files_detail::command(RT_KERNEL_WRITE_FILE,
                                 rt::arguments(rt::text(path), rt::text(text))) != 0;
}
inline bool write_file(const char* path, const Array<uint8_t>& bytes) {
    return files_detail::command(RT_KERNEL_WRITE_FILE,
                                 rt::arguments(rt::text(path), rt::bytes(bytes.block()))) != 0;
}

// A text file read line by line: lines end in CR LF or LF, which the lines
// come without; a last line without a line end counts. A file that cannot be
// read has no lines. The file is closed when the reader goes.
class LineReader {
  public:
    explicit LineReader(const char* path)
        : handle_(static_cast<int32_t>(
              files_detail::command(RT_KERNEL_OPEN_LINES, rt::arguments(rt::text(path))))) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader() {
        if (handle_ != 0)
            files_detail::command(RT_KERNEL_CLOSE_LINES, rt::arguments(rt::integer(handle_)));
    }

    bool is_open() const { return handle_ != 0; }

    // The next line into `line`; false (and `line` empty) after the last.
    bool next(Text& line) {
        if (handle_ == 0) {
            line = Text();
            return false;
        }
        const intptr_t read = static_cast<intptr_t>(
            files_detail::command(RT_KERNEL_READ_LINE, rt::arguments(rt::integer(handle_))));
        line = Text::adopt(read);
        return read != 0;
    }

  private:
    int32_t handle_;
};

// The last-write time as "YYYY-MM-DD HH:MM:SS" in UTC (the same text on
// every system, a different one for every second); empty when the file is
// not there.
inline Text file_time(const char* path) {
    return Text::adopt(static_cast<intptr_t>(
        files_detail::command(RT_KERNEL_FILE_TIME, rt::arguments(rt::text(path)))));
}

// The size in bytes; -1 when the file is not there.
inline int64_t file_size(const char* path) {
    return files_detail::command(RT_KERNEL_FILE_SIZE, rt::arguments(rt::text(path)));
}

}  // namespace rt
