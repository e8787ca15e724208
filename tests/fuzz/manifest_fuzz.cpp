// Fuzzing the update manifest: reading any bytes, and reading back what the
// generator writes. The input's first byte picks the mode.
//
// Any bytes: parsing, lookups, a write and rendering stay inside their
// memory, and a value just set is the value looked up.
// A written manifest: sections of files with names, paths and times taken
// from the input (names as a folder walk gives them: bare GBK names, double
// byte characters whole), rendered and parsed again, give back every value
// and the version. A broken promise aborts with the input saved.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/manifest/gbk_text.h"
#include "common/manifest/manifest.h"

namespace {

using common::Manifest;
using common::TextBuffer;

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

// A text up to its first zero byte: what a C string of it holds.
std::string c_text(FuzzedDataProvider& input, size_t most) {
    std::string text = input.ConsumeRandomLengthString(most);
    return text.substr(0, text.find('\0'));
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// A value as the generator writes one: one line, no blanks around it, no
// quotes around it.
std::string line_value(FuzzedDataProvider& input, size_t most) {
    std::string text = c_text(input, most);
    for (char& c : text) {
        if (c == '\r' || c == '\n')
            c = '_';
    }
    while (!text.empty() && (is_blank(text.front()) || text.front() == '"' || text.front() == '\''))
        text.erase(0, 1);
    while (!text.empty() && is_blank(text.back()))
        text.pop_back();
    return text;
}

// A file name as a folder walk on Windows gives it: a bare name of whole
// GBK characters, no blank before it, no blank or dot after it.
std::string file_name(FuzzedDataProvider& input) {
    std::string name = line_value(input, 24);
    // Windows names end in neither a blank nor a dot, nor in half a
    // character; taking one off may leave another.
    for (bool changed = true; changed && !name.empty();) {
        size_t last = 0;  // where the last character starts
        for (size_t at = 0; at < name.size(); at += common::gbk_char_length(name.c_str() + at))
            last = at;
        const char c = name[last];
        changed = common::gbk_char_length(name.c_str() + last) == 1 &&
                  (common::gbk_lead(static_cast<uint8_t>(c)) || is_blank(c) || c == '.');
        if (changed)
            name.pop_back();
    }
    // A system gives GBK names: a second byte from 0x40 to 0xFE but 0x7F.
    // Any such character may end in ']' (0x5D), '[' or a letter.
    for (size_t at = 0; at < name.size(); at += common::gbk_char_length(name.c_str() + at)) {
        const auto trail = static_cast<uint8_t>(name[at + 1]);
        if (common::gbk_char_length(name.c_str() + at) == 2 &&
            (trail < 0x40 || trail == 0x7F || trail == 0xFF))
            return {};
    }
    if (!common::bare_name(name.c_str()))
        return {};
    return name;
}

void any_bytes(FuzzedDataProvider& input) {
    const std::string section = c_text(input, 24);
    const std::string key = c_text(input, 24);
    const std::string value = c_text(input, 48);
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    Manifest manifest;
    manifest.parse(reinterpret_cast<const uint8_t*>(bytes.data()),
                   static_cast<uint32_t>(bytes.size()));
    if (const char* found = manifest.value(section.c_str(), key.c_str()))
        check(std::strlen(found) <= bytes.size(), "a value lies inside what was read");
    manifest.set(section.c_str(), key.c_str(), value.c_str());
    const char* found = manifest.value(section.c_str(), key.c_str());
    check(found != nullptr && value == found, "a value set is the value looked up");
    TextBuffer out;
    manifest.render(out);
}

void written(FuzzedDataProvider& input) {
    struct File {
        std::string name, path, time;
    };
    std::vector<File> files;
    Manifest manifest;
    const size_t count = input.ConsumeIntegralInRange<size_t>(1, 6);
    for (size_t i = 0; i < count; ++i) {
        File file{file_name(input), line_value(input, 40), line_value(input, 24)};
        if (file.name.empty())
            continue;
        bool again = false;
        for (const File& earlier : files)
            again = again || common::equal_folded(earlier.name.c_str(), file.name.c_str());
        if (again)
            continue;  // a walk gives each name of a folder once
        file.path = "\\" + file.path + file.name;
        manifest.add_file(file.name.c_str(), file.path.c_str(), file.time.c_str());
        files.push_back(file);
    }
    const std::string version = line_value(input, 16);
    manifest.set_version(version.c_str());

    TextBuffer out;
    manifest.render(out);
    Manifest read;
    read.parse(reinterpret_cast<const uint8_t*>(out.c_str()), out.length());
    auto value = [&](const std::string& section, const char* key) -> std::string {
        const char* found = read.value(section.c_str(), key);
        return found != nullptr ? found : "<missing>";
    };
    for (const File& file : files) {
        check(value(file.name, common::kKeyFileName) == file.name, "a file's name reads back");
        check(value(file.name, common::kKeyFilePath) == file.path, "a file's path reads back");
        check(value(file.name, common::kKeyFileDate) == file.time, "a file's time reads back");
    }
    check(value(common::kVersionSection, common::kVersionKey) == version, "the version reads back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool())
        written(input);
    else
        any_bytes(input);
    return 0;
}
