// What the kernel library needs of the operating system beyond binding:
// libraries by absolute path, the fatal message box, and the end of the
// process. One implementation per system: platform_posix.cpp, platform_win32.cpp.
#pragma once

#include <string>
#include <string_view>

namespace kernel::platform {

// Loads a library by absolute path (UTF-8); nullptr on failure.
void* load_library(const std::string& utf8_path);
void* find_export(void* library, const char* name);

// The "Error" message box with a GBK text (on Linux: a line on standard
// error); a transcript line when automation is on.
void show_error(std::string_view gbk_text);

// Ends the process with `code`, output flushed.
[[noreturn]] void end_process(int code);

}  // namespace kernel::platform
