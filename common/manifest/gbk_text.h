// GBK-aware byte text helpers shared by the manifest and the programs that
// walk release and client folders, over the SDK's character rules
// (rt/gbk.h): a trail byte is never taken for an ASCII letter or a
// backslash.
#pragma once

#include <stdint.h>

#include "rt/gbk.h"

namespace common {

using rt::contains_char;
using rt::ends_with_separator;
using rt::gbk_char_length;
using rt::gbk_lead;
using rt::is_separator;

inline char fold_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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

// Whether `name` can stand as one name inside a folder: not empty, not "."
// or "..", no control characters and none of \ / : * ? " < > | outside
// two-byte characters.
inline bool bare_name(const char* name) {
    if (name[0] == '\0' || equal_bytes(name, ".") || equal_bytes(name, ".."))
        return false;
    for (const char* at = name; *at != '\0'; at += gbk_char_length(at)) {
        if (gbk_char_length(at) == 2)
            continue;
        const uint8_t c = static_cast<uint8_t>(*at);
        if (c < 0x20)
            return false;
        for (const char* bad = "\\/:*?\"<>|"; *bad != '\0'; ++bad) {
            if (*at == *bad)
                return false;
        }
    }
    return true;
}

// Whether Windows takes `name` for a device rather than a file: CON, PRN,
// AUX, NUL, CONIN$, CONOUT$, COM0 to COM9 or LPT0 to LPT9, in any letter
// case, alone or before a dot ("nul.txt", "com1.tar.gz"), blanks before the
// dot or the end dropped ("NUL .txt"). Opening such a name in any folder
// opens the device.
inline bool device_name(const char* name) {
    uint32_t length = 0;
    while (name[length] != '\0' && name[length] != '.')
        ++length;
    while (length > 0 && name[length - 1] == ' ')
        --length;
    auto is = [&](const char* device) {
        uint32_t i = 0;
        for (; i < length && device[i] != '\0'; ++i) {
            if (fold_ascii(name[i]) != fold_ascii(device[i]))
                return false;
        }
        return i == length && device[i] == '\0';
    };
    if (is("con") || is("prn") || is("aux") || is("nul") || is("conin$") || is("conout$"))
        return true;
    return length == 4 && name[3] >= '0' && name[3] <= '9' &&
           ((fold_ascii(name[0]) == 'c' && fold_ascii(name[1]) == 'o' &&
             fold_ascii(name[2]) == 'm') ||
            (fold_ascii(name[0]) == 'l' && fold_ascii(name[1]) == 'p' &&
             fold_ascii(name[2]) == 't'));
}

}  // namespace common
