// The shortcut's file name from the title, byte by byte: the cases that only
// Windows' own conversion of the name would turn into a way out of the
// desktop folder, which the scenario tests on Linux cannot show.
#include "launcher/shortcut_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Sink {
    std::string text;
    Sink& operator<<(char c) {
        text += c;
        return *this;
    }
};

std::string name_of(const std::string& title) {
    Sink sink;
    launcher::shortcut_file_name(title.c_str(), sink);
    return sink.text;
}

TEST(ShortcutName, RefusedBytesDevicesAndGbkCharacters) {
    struct Case {
        std::string title;
        std::string name;
    };
    const Case cases[] = {
        {"", ".lnk"},
        {"..", "...lnk"},
        {"..\\..\\x", ".._.._x.lnk"},
        {"a/b:c*d?e\"f<g>h|i", "a_b_c_d_e_f_g_h_i.lnk"},
        {"\x01\x1f\x7f", "__\x7f.lnk"},
        {"nul", "_nul.lnk"},
        {"Com1.txt", "_Com1.txt.lnk"},
        {"lpt9 .x", "_lpt9 .x.lnk"},
        {"COM10", "COM10.lnk"},
        {"CONSOLE", "CONSOLE.lnk"},
        {"COM0", "_COM0.lnk"},
        {"conout$", "_conout$.lnk"},
        // Second bytes '\' and '|' inside a character stay.
        {"\x81\x5C\x81\x7C", "\x81\x5C\x81\x7C.lnk"},
        // A lead byte before what cannot be a second byte stands alone, and
        // the separator after it still goes.
        {"\x81/x", "\x81_x.lnk"},
        {"\x81\x7F", "\x81\x7F.lnk"},
        {"\x81", "\x81.lnk"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(name_of(c.title), c.name) << c.title;
}

}  // namespace
