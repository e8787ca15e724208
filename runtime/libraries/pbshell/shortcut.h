// Writing a shortcut file: one implementation per system. Every text is GBK.
//
// Windows: the shell's own link object (IShellLinkW, saved through
// IPersistFile), the texts converted with code page 936.
// Linux: the same file format written by this library (shell_link.h). The
// shortcut describes a Windows path, so the target and the working folder are
// written as given, each '/' turned into '\': the string data holds them in
// UTF-16, converted from GBK; a target on a local drive ("C:\...") goes into
// the LinkInfo as its base path, in GBK (the ANSI code page of the machines
// the programs are made for) and in UTF-16; any other target is stored as
// the link's relative path. The shortcut file itself is a Linux path ('\'
// separates folders).
//
// Both write the file beside its final name and rename it over that, so a
// failure never leaves a half-written shortcut behind.
#pragma once

#include <string>

namespace pbshell {

// False when the shortcut could not be written: a text that is not valid
// GBK, an empty path or target, a folder that does not exist or cannot be
// written.
bool write_shortcut(const std::string& path, const std::string& target, const std::string& comment,
                    const std::string& working_folder);

}  // namespace pbshell
