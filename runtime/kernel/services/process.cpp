#include "runtime/kernel/services/process.h"

#include "base/automation/transcript.h"
#include "base/encoding.h"
#include "base/gbk.h"

namespace kernel::process {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// The length of the character at `at`: 2 for a GBK double-byte character.
size_t char_length(std::string_view text, size_t at) {
    return base::is_gbk_lead_byte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2
                                                                                                : 1;
}

}  // namespace

std::vector<std::string> split_command_line(std::string_view line) {
    std::vector<std::string> arguments;
    size_t at = 0;
    while (at < line.size() && is_blank(line[at]))
        ++at;
    if (at == line.size())
        return arguments;

    // The program: quotes taken as they stand, no escapes.
    std::string program;
    if (line[at] == '"') {
        ++at;
        while (at < line.size() && line[at] != '"') {
            const size_t length = char_length(line, at);
            program.append(line.substr(at, length));
            at += length;
        }
        if (at < line.size())
            ++at;  // the closing quote
    } else {
        while (at < line.size() && !is_blank(line[at])) {
            const size_t length = char_length(line, at);
            program.append(line.substr(at, length));
            at += length;
        }
    }
    arguments.push_back(std::move(program));

    for (;;) {
        while (at < line.size() && is_blank(line[at]))
            ++at;
        if (at >= line.size())
            break;
        std::string argument;
        bool quoted = false;
        while (at < line.size() && (quoted || !is_blank(line[at]))) {
            if (line[at] == '\\') {
                size_t backslashes = 0;
                while (at < line.size() && line[at] == '\\') {
                    ++backslashes;
                    ++at;
                }
                if (at < line.size() && line[at] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument.push_back('"');
                        ++at;
                    }
                } else {
                    argument.append(backslashes, '\\');
                }
            } else if (line[at] == '"') {
                ++at;
                if (quoted && at < line.size() && line[at] == '"') {
                    argument.push_back('"');
                    ++at;
                } else {
                    quoted = !quoted;
                }
            } else {
                const size_t length = char_length(line, at);
                argument.append(line.substr(at, length));
                at += length;
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::string transcript_line(std::string_view gbk_command_line, bool wait) {
    const std::string utf8 =
        base::gbk_to_utf8(gbk_command_line)
            .value_or("(not GBK: " + std::to_string(gbk_command_line.size()) + " bytes)");
    return "run " + automation::quote(utf8) + (wait ? " wait=yes" : " wait=no");
}

}  // namespace kernel::process
