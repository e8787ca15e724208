// GBK-aware byte text helpers shared by the manifest and the programs that
// walk release and client folders. A byte from 0x81 to 0xFE starts a
// two-byte character whose second byte may look like an ASCII letter or a
// backslash; these helpers never take such a byte for one.
#pragma once

#include <stdint.h>

namespace common {

inline bool gbk_lead(uint8_t byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

// The byte length of the character at `text` (1 or 2; 1 for a lead byte at
// the end of the text).
inline uint32_t gbk_char_length(const char* text) {
    return gbk_lead(static_cast<uint8_t>(text[0])) && text[1] != '\0' ? 2 : 1;
}

inline char fold_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool is_separator(char c) {
    return c == '\\' || c == '/';
}

// Whether `a` and `b` are equal with A-Z folded to a-z outside two-byte
// characters (the rule by which profile sections and keys match).
inline bool equal_folded(const char* a, const char* b) {
    while (*a != '\0' && *b != '\0') {
        const uint32_t length = gbk_char_length(a);
        if (length == 2) {
            if (a[0] != b[0] || a[1] != b[1])
                return false;
        } else if (fold_ascii(*a) != fold_ascii(*b)) {
            return false;
        }
        a += length;
        b += length;
    }
    return *a == *b;
}

inline bool equal_bytes(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Whether `path` holds a folder named `name` (exact bytes) between two
// separators, starting at a character boundary: the path of a file inside
// that folder, at any depth.
inline bool contains_folder(const char* path, const char* name) {
    for (const char* at = path; *at != '\0'; at += gbk_char_length(at)) {
        if (!is_separator(*at))
            continue;
        const char* p = at + 1;
        const char* n = name;
        while (*n != '\0' && *p == *n) {
            ++p;
            ++n;
        }
        if (*n == '\0' && is_separator(*p))
            return true;
    }
    return false;
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

}  // namespace common
