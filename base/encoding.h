// Conversions between GBK, the texts of the image world, and UTF-8, the
// texts of Linux (file names, the source tree, transcripts); on Windows also
// between GBK or UTF-8 and UTF-16, the texts of the wide functions. Every
// GBK conversion of the host-side code goes through here, so code page 936
// is named in one place whatever the system's own code page is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace base {

// nullopt when the input is not valid in its encoding or a character has no
// form in the other; ASCII passes through unchanged.
std::optional<std::string> gbk_to_utf8(std::string_view gbk);
std::optional<std::string> utf8_to_gbk(std::string_view utf8);

#if defined(_WIN32)
// nullopt when the bytes are not GBK.
std::optional<std::wstring> gbk_to_wide(std::string_view gbk);
// Bytes that are not GBK become what the system makes of them (U+FFFD or a
// look-alike): for texts that are shown, never for paths.
std::wstring gbk_to_wide_replacing(std::string_view gbk);
// nullopt when a character has no GBK form.
std::optional<std::string> wide_to_gbk(std::wstring_view wide);
// Characters without a GBK form become '?', as in the names the system gives
// programs that take their texts in the ANSI code page.
std::string wide_to_gbk_replacing(std::wstring_view wide);
// Invalid UTF-8 becomes U+FFFD, and unpaired surrogates the same in UTF-8.
std::wstring utf8_to_wide(std::string_view utf8);
std::string wide_to_utf8(std::wstring_view wide);
#endif

}  // namespace base
