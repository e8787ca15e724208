// Fuzzing the profile file reader and writer over texts in memory. One input
// is a section name, a key name, a value and a second section and key
// (short texts taken from its front), then the file's bytes.
//
// Besides the sanitizers' own findings: reading never gives a line break;
// a write that is taken reads back as the value (trimmed, one pair of
// quotes dropped) and leaves every other key's value as it was.
// A broken promise aborts with the input saved.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/kernel/services/profile_file.h"

namespace {

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// What reading gives for a value written as it is.
std::string_view as_read(std::string_view value) {
    while (!value.empty() && is_blank(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && is_blank(value.back()))
        value.remove_suffix(1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

// Whether two names are the same name to the reader: trimmed, A-Z folded
// outside double-byte characters. A byte of 0x81 to 0xFE starts one
// unless it ends the name.
std::string compared(std::string_view name) {
    while (!name.empty() && is_blank(name.front()))
        name.remove_prefix(1);
    while (!name.empty() && is_blank(name.back()))
        name.remove_suffix(1);
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x81 && c <= 0xFE && i + 1 < name.size()) {
            out += name[i];
            out += name[++i];
        } else {
            out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : name[i];
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(24);
    const std::string key = input.ConsumeRandomLengthString(24);
    const std::string value = input.ConsumeRandomLengthString(48);
    const std::string other_section = input.ConsumeRandomLengthString(24);
    const std::string other_key = input.ConsumeRandomLengthString(24);
    const kernel::ProfileText text(input.ConsumeRemainingBytesAsString());

    for (const auto& [s, k] : {std::pair{&section, &key}, std::pair{&other_section, &other_key}}) {
        const std::string_view read = text.read(*s, *k);
        check(read.find_first_of("\r\n") == std::string_view::npos,
              "a value read holds no line break");
    }

    const auto written = text.written(section, key, value);
    if (!written)
        return 0;
    const kernel::ProfileText again(*written);
    check(again.read(section, key) == as_read(value), "a written value reads back");
    const bool same_key =
        compared(section) == compared(other_section) && compared(key) == compared(other_key);
    if (!same_key) {
        check(again.read(other_section, other_key) == text.read(other_section, other_key),
              "a write leaves the other keys as they were");
    }
    return 0;
}
