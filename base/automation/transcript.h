// The automation transcript: when the environment variable WJRT_TRANSCRIPT
// names a file, every process of the system appends one line per event that
// a person would have seen. Lines are UTF-8:
//
//   <event> key=value key="quoted text" ...
//
// Quoted texts escape \ " and control characters (\n \r \t \xNN). Processes
// started by a program inherit the variable, so one transcript follows a
// whole scenario.
#pragma once

#include <string>
#include <string_view>

namespace automation {

inline constexpr const char* kTranscriptVariable = "WJRT_TRANSCRIPT";

// Whether a transcript is being written.
bool transcript_enabled();

// Appends one line (without its line end) to the transcript, if enabled.
void append_transcript_line(std::string_view line);

// A quoted transcript text from UTF-8 bytes.
std::string quote(std::string_view utf8);

// The line of a message box: title, icon ("none", "information", "error"),
// buttons ("ok", "okcancel", "yesno") and text.
std::string message_box_line(std::string_view title, std::string_view icon,
                             std::string_view buttons, std::string_view text);

}  // namespace automation
