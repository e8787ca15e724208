// Processes and the user's places for the kernel commands. Command lines and
// paths are GBK texts of the image world; process_posix.cpp and
// process_win32.cpp hold what differs between the systems.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kernel::process {

// A command line split into its arguments by the rules Windows programs
// apply (CommandLineToArgvW): the program is the first word, or the text
// between a leading pair of double quotes taken as it stands; in the other
// arguments, blanks and tabs separate, double quotes group, 2n backslashes
// before a double quote give n and the quote groups, 2n+1 give n and a
// literal quote, a doubled quote inside quotes gives one, and other
// backslashes stand as they are. A double-byte GBK character is never taken
// apart. Empty for a line of blanks only.
std::vector<std::string> split_command_line(std::string_view gbk_command_line);

// Starts the command line with the program's own current folder and
// environment. Gives -1 when it cannot start; else 0 without `wait`, or its
// exit code once it has ended (on Linux 128 + the signal that ended it).
int32_t run(std::string_view gbk_command_line, bool wait);

// The transcript line of a started command line:
//   run "update.exe" wait=yes
std::string transcript_line(std::string_view gbk_command_line, bool wait);

// The user's desktop folder, the folder of the running executable, and the
// current folder: GBK, without a final separator (a root keeps its own).
// nullopt when the system does not say, or the path has no GBK form.
// Milliseconds of a steady clock: only differences mean anything.
int64_t steady_milliseconds();

std::optional<std::string> desktop_folder();
std::optional<std::string> program_folder();
// The running executable's file name without its folder, GBK.
std::optional<std::string> program_file_name();
std::optional<std::string> current_folder();

}  // namespace kernel::process
