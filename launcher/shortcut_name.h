// The file name of the desktop shortcut, made from the server title.
//
// The title is the operator's text, so it may hold what no file name can:
// the shortcut must land in the desktop folder itself, whatever the title.
// Every byte that Windows refuses in a file name (\ / : * ? " < > | and the
// control bytes 1 to 31) becomes '_'; with the separators gone no ".." can
// climb. A name that Windows takes for a device (CON, PRN, AUX, NUL, COM1 to
// COM9, LPT1 to LPT9, in any letter case, also before a dot) gets a leading
// '_', since "NUL.lnk" is the device and not a file. Double-byte GBK
// characters are copied whole: their second byte may be 0x5C or 0x7C and is
// not a separator. An empty title gives ".lnk".
//
// Freestanding: `Out` is anything that takes `out << char`.
#pragma once

#include <stdint.h>

namespace launcher {

namespace shortcut_detail {

inline bool refused_in_file_name(uint8_t byte) {
    if (byte < 0x20)
        return true;
    for (const char* c = "\\/:*?\"<>|"; *c != '\0'; ++c)
        if (byte == static_cast<uint8_t>(*c))
            return true;
    return false;
}

inline char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether the name up to its first dot is a device name.
inline bool device_name(const char* name) {
    uint32_t length = 0;
    while (name[length] != '\0' && name[length] != '.')
        ++length;
    // Windows also drops blanks before the dot when it looks for a device.
    while (length > 0 && name[length - 1] == ' ')
        --length;
    static const char* const three[] = {"CON", "PRN", "AUX", "NUL"};
    if (length == 3) {
        for (const char* device : three)
            if (upper(name[0]) == device[0] && upper(name[1]) == device[1] &&
                upper(name[2]) == device[2])
                return true;
        return false;
    }
    if (length == 4 && name[3] >= '1' && name[3] <= '9') {
        const char a = upper(name[0]), b = upper(name[1]), c = upper(name[2]);
        return (a == 'C' && b == 'O' && c == 'M') || (a == 'L' && b == 'P' && c == 'T');
    }
    return false;
}

}  // namespace shortcut_detail

template <typename Out>
void shortcut_file_name(const char* title, Out& out) {
    using namespace shortcut_detail;
    if (device_name(title))
        out << '_';
    const char* at = title;
    while (*at != '\0') {
        const uint8_t byte = static_cast<uint8_t>(*at);
        // A GBK lead byte with its trail byte. A lead byte before anything
        // that is no trail byte stands alone, so the byte after it is judged
        // on its own.
        const uint8_t next = static_cast<uint8_t>(at[1]);
        if (byte >= 0x81 && byte <= 0xFE && next >= 0x40 && next <= 0xFE && next != 0x7F) {
            out << at[0] << at[1];
            at += 2;
            continue;
        }
        out << (refused_in_file_name(byte) ? '_' : *at);
        ++at;
    }
    out << '.' << 'l' << 'n' << 'k';
}

}  // namespace launcher
