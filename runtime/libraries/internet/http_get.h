// The whole-address HTTP GET of the "internet" library.
//
// A fetch succeeds when the address is an http or https address, the
// server answers (redirects followed) with a status of 200 to 299 and the
// whole body arrives. Everything else fails and gives nothing: no
// connection, a dropped connection, a body cut short, and also an error
// reply such as 404 with its error page. Callers write what they get over a
// file and read settings or a version text from it; an error page in its
// place would pass for content, while nothing reads as empty, which is what
// they take for "could not be fetched".
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace internet {

// A body beyond this fails: it could not become one heap block of the
// program.
inline constexpr size_t kMaxBody = size_t{1} << 30;

// `address` is GBK; it goes on the wire in UTF-8, percent-escaped.
std::optional<std::vector<uint8_t>> http_get(std::string_view address);

}  // namespace internet
