// Paths of the image world (GBK texts, a backslash between folders) as the
// operating system takes them, and back. Linux: UTF-8, every backslash that
// is a character of its own becomes '/' (a trail byte 0x5C inside a
// double-byte character stays). Windows: UTF-16 from code page 936 for the
// wide functions, whatever language the system is set to.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kernel {

#if defined(_WIN32)
using SystemPath = std::wstring;
#else
using SystemPath = std::string;
#endif

// nullopt for an empty path or one that is not valid GBK: no file has such a
// name, so a command given one fails as for a missing file.
std::optional<SystemPath> to_system_path(std::string_view gbk);

// A path or name the system gave, as GBK; nullopt when it holds characters
// that GBK cannot spell.
std::optional<std::string> from_system_path(const SystemPath& path);

// The folder part of a path: everything before its last separator (both
// kinds on Windows), or empty when it has none.
SystemPath parent_of(const SystemPath& path);

}  // namespace kernel
