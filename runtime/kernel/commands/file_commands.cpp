// Files and folders: existence, deleting, creating, copying, reading and
// writing whole files, reading text files line by line, time stamps and
// sizes. The work is done by services/files.h.
#include "runtime/kernel/commands/kernel_commands.h"
#include "runtime/kernel/runtime.h"
#include "runtime/kernel/services/files.h"

namespace kernel {

namespace {

// The text files a program reads line by line. Their content is in memory,
// so nothing is left open on the system when the program ends, however it
// ends.
files::LineFiles& line_files() {
    static files::LineFiles open_files;
    return open_files;
}

int64_t file_exists(const Arguments& a) {
    return files::exists(a.text(0));
}

int64_t delete_file(const Arguments& a) {
    return files::delete_file(a.text(0));
}

int64_t delete_folder(const Arguments& a) {
    return files::delete_folder(a.text(0));
}

int64_t create_folder(const Arguments& a) {
    return files::create_folder(a.text(0));
}

int64_t copy_file(const Arguments& a) {
    const std::string from = a.text(0);
    return files::copy_file(from, a.text(1));
}

int64_t move_file(const Arguments& a) {
    const std::string from = a.text(0);
    return files::move_file(from, a.text(1));
}

int64_t append_file(const Arguments& a) {
    const std::string path = a.text(0);
    return files::append_file(path, a.bytes(1), a.integer(2));
}

int64_t read_file(const Arguments& a) {
    auto bytes = files::read_file(a.text(0));
    return bytes ? a.runtime().new_byte_array(*bytes) : 0;
}

int64_t read_text_file(const Arguments& a) {
    auto bytes = files::read_file(a.text(0));
    if (!bytes)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    return a.runtime().new_text(text.substr(0, text.find('\0')));
}

int64_t write_file(const Arguments& a) {
    const std::string path = a.text(0);
    switch (a.type(1)) {
        case RT_TYPE_TEXT: {
            const std::string text = a.text(1);
            return files::write_file(
                path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
        }
        case RT_TYPE_BYTES:
            return files::write_file(path, a.bytes(1));
    }
    a.wrong(1, "a text or a byte array");
}

int64_t open_lines(const Arguments& a) {
    return line_files().open(a.text(0));
}

// A handle that a failed opening gave (0) reads as an empty file and closes
// without harm; any other handle must name an open file.
int32_t line_handle(const Arguments& a) {
    const int32_t handle = a.integer(0);
    if (handle != 0 && !line_files().is_open(handle))
        a.runtime().fatal("The handle " + std::to_string(handle) +
                          " names no text file open for reading lines.");
    return handle;
}

int64_t read_line(const Arguments& a) {
    const int32_t handle = line_handle(a);
    if (handle == 0)
        return 0;
    auto line = line_files().next(handle);
    return line ? a.runtime().new_text(line->substr(0, line->find('\0'))) : 0;
}

int64_t close_lines(const Arguments& a) {
    if (const int32_t handle = line_handle(a); handle != 0)
        line_files().close(handle);
    return 0;
}

int64_t file_time(const Arguments& a) {
    auto seconds = files::last_write_seconds(a.text(0));
    return seconds ? a.runtime().new_text(files::time_text(*seconds)) : 0;
}

int64_t file_size(const Arguments& a) {
    return files::file_size(a.text(0));
}

constexpr KernelCommand kCommands[] = {
    {RT_KERNEL_FILE_EXISTS, 1, false, file_exists},
    {RT_KERNEL_DELETE_FILE, 1, false, delete_file},
    {RT_KERNEL_DELETE_FOLDER, 1, false, delete_folder},
    {RT_KERNEL_CREATE_FOLDER, 1, false, create_folder},
    {RT_KERNEL_COPY_FILE, 2, false, copy_file},
    {RT_KERNEL_READ_FILE, 1, false, read_file},
    {RT_KERNEL_READ_TEXT_FILE, 1, false, read_text_file},
    {RT_KERNEL_WRITE_FILE, 2, false, write_file},
    {RT_KERNEL_OPEN_LINES, 1, false, open_lines},
    {RT_KERNEL_READ_LINE, 1, false, read_line},
    {RT_KERNEL_CLOSE_LINES, 1, false, close_lines},
    {RT_KERNEL_FILE_TIME, 1, false, file_time},
    {RT_KERNEL_FILE_SIZE, 1, false, file_size},
    {RT_KERNEL_MOVE_FILE, 2, false, move_file},
    {RT_KERNEL_APPEND_FILE, 3, false, append_file},
};

}  // namespace

std::span<const KernelCommand> file_commands() {
    return kCommands;
}

}  // namespace kernel
