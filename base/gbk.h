// Walking GBK text: a lead byte 0x81..0xFE takes the next byte with it, so a
// trail byte of 0x5C ('\') inside a character is not a path separator.
#pragma once

#include <cstddef>
#include <string_view>

namespace base {

inline bool is_gbk_lead_byte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// Calls visit(offset, length) for each character: 1 byte, or 2 for a double-byte one.
template <typename Visit>
void for_each_gbk_char(std::string_view text, Visit&& visit) {
    size_t i = 0;
    while (i < text.size()) {
        size_t length = 1;
        if (is_gbk_lead_byte(static_cast<unsigned char>(text[i])) && i + 1 < text.size())
            length = 2;
        visit(i, length);
        i += length;
    }
}

// A bare file or folder name: one path component that cannot step out of the
// folder it is joined to, on either system.
inline bool is_bare_name(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    bool ok = true;
    for_each_gbk_char(name, [&](size_t offset, size_t length) {
        if (length != 1)
            return;
        unsigned char c = static_cast<unsigned char>(name[offset]);
        if (c < 0x20 || c == '/' || c == '\\' || c == ':')
            ok = false;
    });
    return ok;
}

}  // namespace base
