// Paths as the program writes them (GBK, backslashes between folders) in the
// form the operating system takes: UTF-8 with '/' on Linux, UTF-16 from code
// page 936 on Windows. One implementation per system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kernel {

#ifdef _WIN32
using SystemPath = std::wstring;
#else
using SystemPath = std::string;
#endif

// The system's form of a GBK path, or nullopt when it is empty or has no
// form on this system (bytes that are not GBK). On Linux every backslash is a
// folder separator, except the trail byte 0x5C of a double-byte character.
std::optional<SystemPath> to_system_path(std::string_view gbk_path);

}  // namespace kernel
