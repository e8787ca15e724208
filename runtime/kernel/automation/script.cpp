#include "runtime/kernel/automation/script.h"

#include <algorithm>
#include <charconv>

#include "base/encoding.h"
#include "base/quoted_text.h"
#include "contract/runtime_abi.h"

namespace kernel::automation {

using base::fail;

namespace {

template <typename T>
using Result = base::Result<T>;

struct Token {
    std::string text;
    bool quoted = false;
};

Result<std::vector<Token>> tokenize(std::string_view line) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#' && tokens.empty()) {
            break;
        } else if (c == '"') {
            tokens.push_back({TRY(base::read_quoted_text(line, i)), true});
        } else {
            size_t end = line.find_first_of(" \t\r\"", i);
            if (end == std::string_view::npos)
                end = line.size();
            tokens.push_back({std::string(line.substr(i, end - i)), false});
            i = end;
        }
    }
    return tokens;
}

Result<std::string> gbk(const Token& token, const char* what) {
    auto converted = base::utf8_to_gbk(token.text);
    if (!converted)
        return fail(std::string(what) + " has a character without a GBK form");
    return *converted;
}

// GBK, each character without a GBK form replaced by '?'.
std::string gbk_or_question_marks(std::string_view utf8) {
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        size_t length = lead < 0x80    ? 1
                        : lead >= 0xF0 ? 4
                        : lead >= 0xE0 ? 3
                        : lead >= 0xC0 ? 2
                                       : 1;
        length = std::min(length, utf8.size() - i);
        const auto converted = base::utf8_to_gbk(utf8.substr(i, length));
        out += converted ? *converted : std::string("?");
        i += length;
    }
    return out;
}

Result<uint32_t> window_id(const Token& token) {
    std::string_view digits = token.text;
    if (digits.starts_with("0x") || digits.starts_with("0X"))
        digits.remove_prefix(2);
    uint32_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (token.quoted || digits.empty() || digits.size() > 8 || error != std::errc() ||
        end != digits.data() + digits.size() || RT_ID_CLASS(value) != RT_CLASS_WINDOW)
        return fail("expected a window identifier (52xxxxxx), got " + token.text);
    return value;
}

Result<int32_t> row_number(const Token& token) {
    int32_t value = 0;
    const char* begin = token.text.data();
    const char* last = begin + token.text.size();
    auto [end, error] = std::from_chars(begin, last, value, 10);
    if (token.quoted || begin == last || error != std::errc() || end != last || value < 0)
        return fail("expected a row number from 0, got " + token.text);
    return value;
}

Result<int32_t> answer(const Token& token) {
    if (!token.quoted) {
        if (token.text == "ok")
            return RT_MB_ANSWER_OK;
        if (token.text == "cancel")
            return RT_MB_ANSWER_CANCEL;
        if (token.text == "yes")
            return RT_MB_ANSWER_YES;
        if (token.text == "no")
            return RT_MB_ANSWER_NO;
    }
    return fail("expected ok, cancel, yes or no, got " + token.text);
}

struct Grammar {
    const char* keyword;
    StepKind kind;
    const char* arguments;  // u unit, t text, r row, w window, a answer, p path, f file
};

constexpr Grammar kGrammar[] = {
    {"click", StepKind::Click, "u"},
    {"type", StepKind::Type, "ut"},
    {"select", StepKind::Select, "ur"},
    {"answer", StepKind::Answer, "a"},
    {"close", StepKind::Close, ""},
    {"activate", StepKind::Activate, "w"},
    {"expect-window", StepKind::ExpectWindow, "w"},
    {"expect-text", StepKind::ExpectText, "ut"},
    {"choose-folder", StepKind::ChooseFolder, "p"},
    {"cancel-folder", StepKind::CancelFolder, ""},
    {"capture", StepKind::Capture, "f"},
    {"tab", StepKind::Tab, ""},
    {"back-tab", StepKind::BackTab, ""},
    {"expect-focus", StepKind::ExpectFocus, "u"},
};

Result<Step> parse_step(const std::vector<Token>& tokens) {
    const Grammar* grammar = nullptr;
    for (const Grammar& g : kGrammar) {
        if (!tokens[0].quoted && tokens[0].text == g.keyword)
            grammar = &g;
    }
    if (grammar == nullptr)
        return fail("unknown step " + tokens[0].text);
    const std::string_view arguments = grammar->arguments;
    if (tokens.size() != arguments.size() + 1)
        return fail(std::string(grammar->keyword) + " takes " + std::to_string(arguments.size()) +
                    " value(s)");
    Step step;
    step.kind = grammar->kind;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const Token& token = tokens[i + 1];
        switch (arguments[i]) {
            case 'u':
                step.unit = TRY(gbk(token, "the unit name"));
                if (step.unit.empty())
                    return fail(std::string("an empty unit name"));
                break;
            case 't':
                if (!token.quoted)
                    return fail("expected a quoted text, got " + token.text);
                step.text = TRY(gbk(token, "the text"));
                break;
            case 'r':
                step.row = TRY(row_number(token));
                break;
            case 'w':
                step.window = TRY(window_id(token));
                break;
            case 'a':
                step.answer = TRY(answer(token));
                break;
            case 'p':
                step.text = gbk_or_question_marks(token.text);
                if (step.text.empty())
                    return fail(std::string("an empty folder path"));
                break;
            case 'f':
                if (!token.quoted || token.text.empty())
                    return fail("expected a quoted file name, got " + token.text);
                step.text = token.text;
                break;
        }
    }
    return step;
}

bool same_program(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return fold(x) == fold(y);
    });
}

}  // namespace

base::Result<std::vector<Step>> parse_script(std::string_view utf8, std::string_view program) {
    if (utf8.starts_with("\xEF\xBB\xBF"))
        utf8.remove_prefix(3);
    std::vector<Step> steps;
    size_t start = 0;
    int number = 0;
    bool ours = true;  // before any program part: every program's
    while (start < utf8.size()) {
        size_t end = utf8.find('\n', start);
        if (end == std::string_view::npos)
            end = utf8.size();
        ++number;
        std::string_view line = utf8.substr(start, end - start);
        start = end + 1;
        auto tokens = tokenize(line);
        if (tokens.is_error())
            return fail("line " + std::to_string(number) + ": " + tokens.error().message());
        if (tokens.value().empty())
            continue;
        if (!tokens.value()[0].quoted && tokens.value()[0].text == "program") {
            if (tokens.value().size() != 2 || tokens.value()[1].text.empty())
                return fail("line " + std::to_string(number) + ": program takes a file name");
            ours = same_program(tokens.value()[1].text, program);
            continue;
        }
        auto step = parse_step(tokens.value());
        if (step.is_error())
            return fail("line " + std::to_string(number) + ": " + step.error().message());
        step.value().line = number;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        step.value().source = std::string(line);
        if (ours)
            steps.push_back(step.release_value());
    }
    return steps;
}

}  // namespace kernel::automation
