#include "base/automation/transcript.h"

#include <cstdio>

namespace automation {

std::string quote(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", u);
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string message_box_line(std::string_view title, std::string_view icon,
                             std::string_view buttons, std::string_view text) {
    std::string line = "msgbox title=";
    line += quote(title);
    line += " icon=";
    line += icon;
    line += " buttons=";
    line += buttons;
    line += " text=";
    line += quote(text);
    return line;
}

}  // namespace automation
