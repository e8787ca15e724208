// Conversions between GBK, the texts of the image world, and UTF-8, the
// texts of Linux (file names, the source tree, transcripts).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace base {

// nullopt when the input is not valid in its encoding or a character has no
// form in the other; ASCII passes through unchanged.
std::optional<std::string> gbk_to_utf8(std::string_view gbk);
std::optional<std::string> utf8_to_gbk(std::string_view utf8);

}  // namespace base
