// The quoted texts of the project's line-based languages (program
// descriptions, automation scripts): "...", with \" \\ \n \r \t.
#pragma once

#include <string>
#include <string_view>

#include "base/error_or.h"
#include "base/error.h"

namespace base {

// Reads the quoted text that starts at line[at] (a '"'); `at` ends behind
// its closing quote.
inline Result<std::string> read_quoted_text(std::string_view line, size_t& at) {
    std::string text;
    ++at;
    for (;;) {
        if (at >= line.size())
            return fail(std::string("a text without its closing quote"));
        const char c = line[at++];
        if (c == '"')
            return text;
        if (c != '\\') {
            text += c;
            continue;
        }
        if (at >= line.size())
            return fail(std::string("a backslash at the end of a text"));
        const char e = line[at++];
        switch (e) {
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case '"':
            case '\\':
                text += e;
                break;
            default:
                return fail(std::string("unknown escape \\") + e);
        }
    }
}

}  // namespace base
