#include "image/link/description.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>

#include "base/byte_reader.h"
#include "base/encoding.h"
#include "base/quoted_text.h"
#include "contract/runtime_abi.h"

namespace image::link {

using base::fail;

std::vector<std::string> ProgramDescription::handler_names() const {
    std::vector<std::string> names;
    for (const WindowDescription& window : windows) {
        for (const UnitDescription& unit : window.units) {
            for (const EventDescription& event : unit.events)
                names.push_back(event.handler);
        }
    }
    return names;
}

std::optional<size_t> ProgramDescription::library_position(const std::string& name) const {
    for (size_t i = 0; i < libraries.size(); ++i) {
        if (libraries[i].name == name)
            return i;
    }
    return std::nullopt;
}

std::optional<size_t> ProgramDescription::dll_number(const std::string& alias) const {
    for (size_t i = 0; i < dlls.size(); ++i) {
        if (dlls[i].alias == alias)
            return i;
    }
    return std::nullopt;
}

bool ProgramDescription::defines_identifier(uint32_t id) const {
    for (const WindowDescription& window : windows) {
        if (window.window.id == id)
            return true;
        for (const UnitDescription& unit : window.units) {
            if (unit.unit.id == id)
                return true;
        }
    }
    return false;
}

bool ProgramDescription::defines_code_name(const std::string& name) const {
    for (const WindowDescription& window : windows) {
        for (const UnitDescription& unit : window.units) {
            if (unit.code_name == name)
                return true;
        }
    }
    return false;
}

namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a line into words and quoted texts ("...", with \" \\ \n \t \r).
LinkResult<std::vector<Token>> tokenize(const std::string& line, int number) {
    std::vector<Token> tokens;
    size_t i = 0;
    auto error = [&](const std::string& what) {
        return fail("line " + std::to_string(number) + ": " + what);
    };
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            auto text = base::read_quoted_text(line, i);
            if (text.is_error())
                return error(text.error());
            tokens.push_back({text.release_value(), true});
        } else {
            size_t end = line.find_first_of(" \t\r#\"", i);
            if (end == std::string::npos)
                end = line.size();
            tokens.push_back({line.substr(i, end - i), false});
            i = end;
        }
    }
    return tokens;
}

std::optional<uint32_t> parse_hex(const std::string& text) {
    uint32_t value = 0;
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<int64_t> parse_integer(const std::string& text) {
    int64_t value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    int base = 10;
    bool negative = false;
    if (begin != end && *begin == '-') {
        negative = true;
        ++begin;
    }
    if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
        base = 16;
        begin += 2;
    }
    auto [at, error] = std::from_chars(begin, end, value, base);
    if (begin == end || error != std::errc() || at != end)
        return std::nullopt;
    return negative ? -value : value;
}

// Events written by name (`on click handler`).
std::optional<int32_t> named_event(const std::string& name) {
    static const std::map<std::string, int32_t> events = {
        {"click", RT_EVENT_MAIN},
        {"create", RT_EVENT_MAIN},
        {"change", RT_EVENT_CONTENT_CHANGED},
        {"select", RT_EVENT_SELECTION_CHANGED},
        {"closing", RT_EVENT_WINDOW_CLOSING},
        {"press", RT_EVENT_LEFT_BUTTON_DOWN},
    };
    auto found = events.find(name);
    if (found == events.end())
        return std::nullopt;
    return found->second;
}

// A code name becomes a C++ name in the generated header: an ASCII
// identifier that no C++ keyword or reserved spelling takes.
bool code_identifier(const std::string& name) {
    static const char* const keywords[] = {
        "alignas",  "alignof",  "and",      "asm",      "auto",    "bool",      "break",
        "case",     "catch",    "char",     "class",    "const",   "constexpr", "continue",
        "default",  "delete",   "do",       "double",   "else",    "enum",      "explicit",
        "export",   "extern",   "false",    "float",    "for",     "friend",    "goto",
        "if",       "inline",   "int",      "long",     "mutable", "namespace", "new",
        "noexcept", "not",      "nullptr",  "operator", "or",      "private",   "protected",
        "public",   "register", "return",   "short",    "signed",  "sizeof",    "static",
        "struct",   "switch",   "template", "this",     "throw",   "true",      "try",
        "typedef",  "typename", "union",    "unsigned", "using",   "virtual",   "void",
        "volatile", "while",    "xor"};
    if (name.empty() || (name[0] >= '0' && name[0] <= '9') || name.starts_with("__") ||
        (name.size() > 1 && name[0] == '_' && name[1] >= 'A' && name[1] <= 'Z'))
        return false;
    for (char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_'))
            return false;
    }
    return std::find(std::begin(keywords), std::end(keywords), name) == std::end(keywords);
}

class Parser {
  public:
    explicit Parser(std::filesystem::path base) : base_(std::move(base)) {
        description_.libraries.push_back(*known_library("krnln"));
    }

    LinkResult<ProgramDescription> parse(const std::string& text) {
        size_t start = 0;
        int number = 0;
        while (start <= text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            ++number;
            auto tokens = TRY(tokenize(text.substr(start, end - start), number));
            if (!tokens.empty())
                TRY(line(tokens, number));
            start = end + 1;
        }
        TRY(finish());
        return std::move(description_);
    }

  private:
    using Tokens = std::vector<Token>;

    base::Failure<std::string> error(int number, const std::string& what) {
        return fail("line " + std::to_string(number) + ": " + what);
    }

    LinkResult<uint32_t> hex_word(const Token& token, int number) {
        auto value = parse_hex(token.text);
        if (!value || token.quoted)
            return error(number, "expected a hexadecimal number, got " + token.text);
        return *value;
    }

    LinkResult<int64_t> integer(const Token& token, int number, int64_t low, int64_t high) {
        auto value = parse_integer(token.text);
        if (!value || token.quoted || *value < low || *value > high)
            return error(number, "expected a number from " + std::to_string(low) + " to " +
                                     std::to_string(high) + ", got " + token.text);
        return *value;
    }

    LinkResult<std::string> gbk_text(const Token& token, int number) {
        if (!token.quoted)
            return error(number, "expected a quoted text, got " + token.text);
        auto gbk = base::utf8_to_gbk(token.text);
        if (!gbk)
            return error(number, "the text has a character without a GBK form");
        return *gbk;
    }

    LinkResult<uint32_t> unit_type(const Token& token, int number) {
        std::string library;
        uint32_t type_number = 0;
        if (const RtUnitTypeRow* named = rt_find_unit_type_named(token.text.c_str())) {
            library = named->library;
            type_number = named->number;
        } else {
            size_t colon = token.text.find(':');
            auto value = colon == std::string::npos ? std::nullopt
                                                    : parse_integer(token.text.substr(colon + 1));
            if (!value || *value <= 0 || *value > 0xFFFF)
                return error(number, "unknown unit type " + token.text);
            library = token.text.substr(0, colon);
            type_number = static_cast<uint32_t>(*value);
        }
        auto position = description_.library_position(library);
        if (!position)
            return error(number, "unit type " + token.text + " needs library " + library);
        return static_cast<uint32_t>((*position + 1) << 16 | type_number);
    }

    // The table row of a unit type reference of this description.
    const RtUnitTypeRow* type_row(uint32_t type) const {
        const uint32_t position = RT_TYPE_LIBRARY(type);
        if (position < 1 || position > description_.libraries.size())
            return nullptr;
        return rt_find_unit_type(description_.libraries[position - 1].name.c_str(),
                                 RT_TYPE_NUMBER(type));
    }

    void append_u32(std::vector<uint8_t>& out, uint32_t value) {
        uint8_t bytes[4];
        base::store_le32(bytes, value);
        out.insert(out.end(), bytes, bytes + 4);
    }

    LinkResult<void> need(const Tokens& tokens, size_t count, int number) {
        if (tokens.size() != count)
            return error(number, "'" + tokens[0].text + "' takes " + std::to_string(count - 1) +
                                     " value(s)");
        return {};
    }

    LinkResult<void> line(const Tokens& t, int number) {
        const std::string& keyword = t[0].text;
        if (keyword == "library") {
            TRY(need(t, 2, number));
            if (!windows().empty())
                return error(number, "libraries come before the windows");
            const LibraryEntry* entry = known_library(t[1].text);
            if (entry == nullptr)
                return error(number, "unknown library " + t[1].text);
            if (description_.library_position(t[1].text))
                return error(number, "library " + t[1].text + " is listed twice");
            description_.libraries.push_back(*entry);
        } else if (keyword == "dll") {
            TRY(need(t, 4, number));
            if (description_.dll_number(t[1].text))
                return error(number, "DLL alias " + t[1].text + " is declared twice");
            if (!t[2].quoted)
                return error(number, "the DLL's library is a quoted text (may be empty)");
            description_.dlls.push_back({t[1].text, {t[2].text, t[3].text}});
        } else if (keyword == "next-id") {
            TRY(need(t, 2, number));
            description_.next_id = TRY(hex_word(t[1], number));
        } else if (keyword == "start") {
            TRY(need(t, 2, number));
            if (start_line_ != 0)
                return error(number, "the start window is named twice");
            description_.start_window = TRY(hex_word(t[1], number));
            start_line_ = number;
        } else if (keyword == "window") {
            return window_line(t, number);
        } else if (keyword == "unit") {
            return unit_line(t, number);
        } else {
            return unit_attribute(t, number);
        }
        return {};
    }

    std::vector<WindowDescription>& windows() { return description_.windows; }

    LinkResult<void> window_line(const Tokens& t, int number) {
        if (t.size() < 2)
            return error(number, "'window' takes its identifier");
        WindowDescription window;
        window.line = number;
        window.window.id = TRY(hex_word(t[1], number));
        for (size_t i = 2; i < t.size(); ++i) {
            if (t[i].text == "block" && i + 1 < t.size()) {
                window.window.block_id = TRY(hex_word(t[++i], number));
            } else if (t[i].text == "reserved" && i + 2 < t.size()) {
                window.window.table_reserved = TRY(hex_word(t[++i], number));
                window.window.block_reserved = TRY(hex_word(t[++i], number));
            } else {
                return error(number, "unknown window attribute " + t[i].text);
            }
        }
        if (RT_ID_CLASS(window.window.id) != RT_CLASS_WINDOW)
            return error(number, "a window identifier has class 52");
        if (description_.defines_identifier(window.window.id))
            return error(number, "identifier " + t[1].text + " is used twice");
        windows().push_back(std::move(window));
        return {};
    }

    LinkResult<void> unit_line(const Tokens& t, int number) {
        if (windows().empty())
            return error(number, "a unit outside a window");
        TRY(need(t, 4, number));
        UnitDescription unit;
        unit.line = number;
        unit.unit.id = TRY(hex_word(t[1], number));
        unit.unit.type = TRY(unit_type(t[2], number));
        unit.unit.name = TRY(gbk_text(t[3], number));
        WindowDescription& window = windows().back();
        const bool first = window.units.empty();
        if (first && RT_ID_CLASS(unit.unit.id) != RT_CLASS_WINDOW_UNIT)
            return error(number, "a window's first unit is its own record (class 06)");
        if (!first && RT_ID_CLASS(unit.unit.id) != RT_CLASS_UNIT)
            return error(number, "a unit identifier has class 16");
        if (first && !unit.unit.name.empty())
            return error(number, "the window's own record has an empty name");
        if (description_.defines_identifier(unit.unit.id))
            return error(number, "identifier " + t[1].text + " is used twice");
        window.units.push_back(std::move(unit));
        return {};
    }

    LinkResult<void> unit_attribute(const Tokens& t, int number) {
        const std::string& keyword = t[0].text;
        if (windows().empty() || windows().back().units.empty())
            return error(number, "'" + keyword + "' outside a unit");
        UnitDescription& ud = windows().back().units.back();
        Unit& unit = ud.unit;
        if (keyword == "at") {
            TRY(need(t, 5, number));
            unit.left = static_cast<int32_t>(TRY(integer(t[1], number, INT32_MIN, INT32_MAX)));
            unit.top = static_cast<int32_t>(TRY(integer(t[2], number, INT32_MIN, INT32_MAX)));
            unit.width = static_cast<int32_t>(TRY(integer(t[3], number, INT32_MIN, INT32_MAX)));
            unit.height = static_cast<int32_t>(TRY(integer(t[4], number, INT32_MIN, INT32_MAX)));
        } else if (keyword == "flags") {
            for (size_t i = 1; i < t.size(); ++i) {
                if (t[i].text == "visible")
                    unit.flags |= kUnitVisible;
                else if (t[i].text == "disabled")
                    unit.flags |= kUnitDisabled;
                else if (t[i].text == "focus")
                    unit.flags |= kUnitFocus;
                else
                    return error(number, "unknown flag " + t[i].text);
            }
        } else if (keyword == "parent") {
            TRY(need(t, 2, number));
            unit.parent = TRY(hex_word(t[1], number));
        } else if (keyword == "on") {
            TRY(need(t, 3, number));
            int32_t event = 0;
            if (auto named = named_event(t[1].text); named && !t[1].quoted)
                event = *named;
            else if (parse_integer(t[1].text) && !t[1].quoted)
                event = static_cast<int32_t>(TRY(integer(t[1], number, INT32_MIN, INT32_MAX)));
            else
                return error(number, "unknown event " + t[1].text +
                                         " (click, create, change, select, closing, press)");
            ud.events.push_back({event, t[2].text});
        } else if (keyword == "name") {
            TRY(need(t, 2, number));
            if (!ud.code_name.empty())
                return error(number, "the unit has a code name already");
            if (t[1].quoted || !code_identifier(t[1].text))
                return error(number, "the code name " + t[1].text +
                                         " is not an identifier (ASCII letters, digits, _)");
            if (description_.defines_code_name(t[1].text))
                return error(number, "the code name " + t[1].text + " is used twice");
            ud.code_name = t[1].text;
        } else if (keyword == "bytes") {
            for (size_t i = 1; i < t.size(); ++i) {
                const std::string& hex = t[i].text;
                if (hex.size() % 2 != 0)
                    return error(number, "bytes come as pairs of hexadecimal digits");
                for (size_t j = 0; j < hex.size(); j += 2) {
                    auto value = parse_hex(hex.substr(j, 2));
                    if (!value)
                        return error(number, "bad hexadecimal byte " + hex.substr(j, 2));
                    unit.properties.push_back(static_cast<uint8_t>(*value));
                }
            }
        } else if (const RtFormItemRow* item = rt_find_form_item_named(keyword.c_str())) {
            return form_item(ud, *item, t, number);
        } else {
            return error(number, "unknown keyword " + keyword);
        }
        return {};
    }

    // A property of the unit: one tagged item of its record.
    LinkResult<void> form_item(UnitDescription& ud, const RtFormItemRow& row, const Tokens& t,
                               int number) {
        const std::string& keyword = t[0].text;
        const uint8_t tag = row.tag;
        if (std::find(ud.form_items.begin(), ud.form_items.end(), tag) != ud.form_items.end())
            return error(number, "'" + keyword + "' is given twice for this unit");
        if (!rt_type_has(type_row(ud.unit.type), row.facets))
            return error(number, "'" + keyword + "' does not belong to this unit's type");
        const uint8_t other_font = tag == RT_FORM_FONT ? RT_FORM_FONT_PIXELS : RT_FORM_FONT;
        if ((tag == RT_FORM_FONT || tag == RT_FORM_FONT_PIXELS) &&
            std::find(ud.form_items.begin(), ud.form_items.end(), other_font) !=
                ud.form_items.end())
            return error(number, "a unit's font is given in points or in pixels, not both");
        ud.form_items.push_back(tag);
        std::vector<uint8_t> item{tag};
        auto append_text = [&](const std::string& text) {
            append_u32(item, static_cast<uint32_t>(text.size()));
            item.insert(item.end(), text.begin(), text.end());
        };
        switch (tag) {
            case RT_FORM_TEXT:
                TRY(need(t, 2, number));
                append_text(TRY(gbk_text(t[1], number)));
                break;
            case RT_FORM_TEXT_COLOUR:
            case RT_FORM_BACK_COLOUR:
                TRY(need(t, 2, number));
                append_u32(item, static_cast<uint32_t>(TRY(integer(t[1], number, 0, 0xFFFFFF))));
                break;
            case RT_FORM_FONT:
            case RT_FORM_FONT_PIXELS: {
                if (t.size() < 3)
                    return error(number, tag == RT_FORM_FONT
                                             ? "'font' takes a face and a size in points"
                                             : "'font-pixels' takes a face and a height in pixels");
                const std::string face = TRY(gbk_text(t[1], number));
                const auto size = static_cast<uint32_t>(TRY(integer(t[2], number, 1, 4096)));
                uint32_t style = 0;
                for (size_t i = 3; i < t.size(); ++i) {
                    if (t[i].text == "bold")
                        style |= RT_FONT_BOLD;
                    else if (t[i].text == "italic")
                        style |= RT_FONT_ITALIC;
                    else if (t[i].text == "underline")
                        style |= RT_FONT_UNDERLINE;
                    else
                        return error(number, "unknown font style " + t[i].text);
                }
                append_u32(item, size);
                append_u32(item, style);
                append_text(face);
                break;
            }
            case RT_FORM_ITEMS:
                append_u32(item, static_cast<uint32_t>(t.size() - 1));
                for (size_t i = 1; i < t.size(); ++i)
                    append_text(TRY(gbk_text(t[i], number)));
                break;
            case RT_FORM_SELECTION:
                TRY(need(t, 2, number));
                append_u32(item, static_cast<uint32_t>(TRY(integer(t[1], number, -1, INT32_MAX))));
                break;
            case RT_FORM_CHECKED:
            case RT_FORM_READ_ONLY:
            case RT_FORM_MULTI_LINE:
                TRY(need(t, 1, number));
                break;
            case RT_FORM_ALIGNMENT: {
                TRY(need(t, 2, number));
                static const std::map<std::string, uint32_t> places = {{"left", RT_ALIGN_LEFT},
                                                                       {"centre", RT_ALIGN_CENTRE},
                                                                       {"right", RT_ALIGN_RIGHT}};
                auto place = places.find(t[1].text);
                if (t[1].quoted || place == places.end())
                    return error(number, "'align' takes left, centre or right");
                append_u32(item, place->second);
                break;
            }
            case RT_FORM_SCROLL_BARS: {
                if (t.size() < 2)
                    return error(number, "'scroll-bars' takes horizontal, vertical or both");
                uint32_t bars = 0;
                for (size_t i = 1; i < t.size(); ++i) {
                    const uint32_t bar = t[i].text == "horizontal" ? RT_SCROLL_HORIZONTAL
                                         : t[i].text == "vertical" ? RT_SCROLL_VERTICAL
                                                                   : 0;
                    if (t[i].quoted || bar == 0 || (bars & bar) != 0)
                        return error(number, "'scroll-bars' takes horizontal, vertical or both");
                    bars |= bar;
                }
                append_u32(item, bars);
                break;
            }
            case RT_FORM_PICTURE:
            case RT_FORM_HOVER_FACE:
            case RT_FORM_PRESSED_FACE:
            case RT_FORM_DISABLED_FACE:
            case RT_FORM_ICON: {
                TRY(need(t, 2, number));
                if (!t[1].quoted)
                    return error(number, "'" + t[0].text + "' takes a quoted file name");
                std::ifstream in(base_ / t[1].text, std::ios::binary);
                if (!in)
                    return error(number, "cannot read " + t[1].text);
                std::vector<uint8_t> content((std::istreambuf_iterator<char>(in)), {});
                append_u32(item, static_cast<uint32_t>(content.size()));
                item.insert(item.end(), content.begin(), content.end());
                break;
            }
        }
        ud.unit.properties.insert(ud.unit.properties.end(), item.begin(), item.end());
        return {};
    }

    LinkResult<void> finish() {
        bool has_start = false;
        bool has_default = false;
        for (const WindowDescription& window : windows()) {
            has_start = has_start || window.window.id == description_.start_window;
            has_default = has_default || window.window.id == RT_START_WINDOW;
            if (window.units.empty())
                return error(window.line, "a window needs its own record (a unit of class 06)");
            for (const UnitDescription& unit : window.units) {
                if (unit.unit.parent == 0)
                    continue;
                bool found = false;
                for (const UnitDescription& other : window.units)
                    found = found || other.unit.id == unit.unit.parent;
                if (!found)
                    return error(unit.line, "the parent is not a unit of the same window");
            }
        }
        if (start_line_ != 0 && !has_start)
            return error(start_line_, "no start window: no window has the identifier named");
        if (start_line_ == 0) {
            if (!has_default)
                return fail(std::string(
                    "no start window: name one with 'start', or give a window 52010001"));
            description_.start_window = RT_START_WINDOW;
        }
        return {};
    }

    int start_line_ = 0;
    std::filesystem::path base_;
    ProgramDescription description_;
};

}  // namespace

LinkResult<ProgramDescription> parse_description(const std::string& text,
                                                 const std::filesystem::path& base_folder) {
    Parser parser(base_folder);
    return parser.parse(text);
}

}  // namespace image::link
