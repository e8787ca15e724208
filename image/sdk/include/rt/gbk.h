// GBK byte texts as programs walk them: a byte from 0x81 to 0xFE starts a
// two-byte character whose second byte may look like an ASCII letter or a
// backslash; these helpers never take such a byte for one.
#pragma once

#include <stdint.h>

namespace rt {

inline bool gbk_lead(uint8_t byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

// The byte length of the character at `text` (1 or 2; 1 for a lead byte at
// the end of the text).
inline uint32_t gbk_char_length(const char* text) {
    return gbk_lead(static_cast<uint8_t>(text[0])) && text[1] != '\0' ? 2 : 1;
}

inline bool is_separator(char c) {
    return c == '\\' || c == '/';
}

// Whether the text's last character is a single-byte separator.
inline bool ends_with_separator(const char* text) {
    bool last = false;
    for (const char* at = text; *at != '\0'; at += gbk_char_length(at))
        last = gbk_char_length(at) == 1 && is_separator(*at);
    return last;
}

// Whether the text holds the single-byte character `c` (never a trail byte).
inline bool contains_char(const char* text, char c) {
    for (const char* at = text; *at != '\0'; at += gbk_char_length(at)) {
        if (gbk_char_length(at) == 1 && *at == c)
            return true;
    }
    return false;
}

}  // namespace rt
