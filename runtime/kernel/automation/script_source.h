// Where the script comes from: the file that the environment variable
// WJRT_SCRIPT names (UTF-8 text). One implementation per system:
// script_source_posix.cpp, script_source_win32.cpp.
#pragma once

#include <optional>
#include <string>

#include "base/error_or.h"
#include "base/error.h"

namespace kernel::automation {

inline constexpr const char* kScriptVariable = "WJRT_SCRIPT";

// The script's text; nullopt when the variable is not set; an error (UTF-8)
// when the file cannot be read.
base::Result<std::optional<std::string>> read_script_source();

// The file name of the running executable (UTF-8, without its folder), which
// picks the script's part for this program; empty when the system does not
// tell it.
std::string own_program_name();

}  // namespace kernel::automation
