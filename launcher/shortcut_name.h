// The file name of the desktop shortcut, made from the server title.
//
// The title is the operator's text, so it may hold what no file name can:
// the shortcut must land in the desktop folder itself, whatever the title.
// Every byte that Windows refuses in a file name (\ / : * ? " < > | and the
// control bytes 1 to 31) becomes '_'; with the separators gone no ".." can
// climb. A name that Windows takes for a device (common::device_name: CON,
// PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, CONIN$, CONOUT$, in any letter
// case, also before a dot) gets a leading '_', since "NUL.lnk" is the device
// and not a file. Double-byte GBK
// characters are copied whole: their second byte may be 0x5C or 0x7C and is
// not a separator. An empty title gives ".lnk".
//
// Freestanding: `Out` is anything that takes `out << char`.
#pragma once

#include <stdint.h>

#include "common/manifest/gbk_text.h"

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

}  // namespace shortcut_detail

template <typename Out>
void shortcut_file_name(const char* title, Out& out) {
    using namespace shortcut_detail;
    if (common::device_name(title))
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
