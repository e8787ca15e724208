// Web addresses as programs give them, made into what goes on the wire: the
// text in UTF-8 with spaces and every byte above 0x7F percent-escaped (the
// URL code page UTF-8 of the Windows HTTP stack), so an address holding a
// Chinese file name asks for the same resource on every system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace base {

// Whether `address` starts with "http://" or "https://" (A-Z case ignored).
inline bool is_http_address(std::string_view address) {
    auto starts = [&](std::string_view prefix) {
        if (address.size() < prefix.size())
            return false;
        for (size_t i = 0; i < prefix.size(); ++i) {
            char c = address[i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + 32);
            if (c != prefix[i])
                return false;
        }
        return true;
    };
    return starts("http://") || starts("https://");
}

// The wire form of a UTF-8 address; nullopt for one that holds control
// characters (a line break could otherwise smuggle a header in). An existing
// "%xx" stays as it is.
inline std::optional<std::string> wire_address(std::string_view utf8) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return std::nullopt;
        if (byte == ' ' || byte >= 0x80) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace base
