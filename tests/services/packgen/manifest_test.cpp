// The manifest model and the walk rules that the generator and the updater
// share, compiled natively with GBK texts as in the program images; the
// runtime's heap is the C heap here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/manifest/gbk_text.h"
#include "common/manifest/manifest.h"

namespace {

using common::Manifest;
using common::TextBuffer;

void parse(Manifest& manifest, const std::string& text) {
    manifest.parse(reinterpret_cast<const uint8_t*>(text.data()),
                   static_cast<uint32_t>(text.size()));
}

std::string value(const Manifest& manifest, const char* section, const char* key) {
    const char* found = manifest.value(section, key);
    return found != nullptr ? found : "<missing>";
}

std::string rendered(const Manifest& manifest) {
    TextBuffer out;
    manifest.render(out);
    return out.c_str();
}

// Reading a manifest by the profile rules.
TEST(Manifest, ReadsByTheProfileRules) {
    Manifest m;
    parse(m,
          "[Game.EXE]\r\n"
          "  文件日期 = 2023-11-14 22:13:20  \r\n"
          "文件路径=\"\\Game.exe\"\r\n"
          "文件日期=later duplicate\r\n"
          "no equals sign\r\n"
          "[game.exe]\r\n"
          "文件名=second section of the same name\r\n"
          "[版本]\n"
          "版本号=1.0");
    const struct {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"game.exe", "文件日期", "2023-11-14 22:13:20"},  // case ignored, trimmed, first wins
        {"GAME.exe", "文件路径", "\\Game.exe"},           // quotes dropped
        {"game.exe", "文件名", "<missing>"},              // a later duplicate section is not read
        {"版本", "版本号", "1.0"},                        // LF lines, no final line end
        {"other", "文件日期", "<missing>"},
        {"版本", "版本", "<missing>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(value(m, c.section, c.key), c.expected) << c.section << " " << c.key;
}

// A two-byte character whose second byte is an ASCII letter never matches
// another character by letter case.
TEST(Manifest, LetterCaseIsFoldedOutsideTwoByteCharacters) {
    Manifest m;
    parse(m, "[\x81\x41.dat]\r\nk=upper trail\r\n[\x81\x61.DAT]\r\nk=lower trail\r\n");
    EXPECT_EQ(value(m, "\x81\x41.DAT", "K"), "upper trail");
    EXPECT_EQ(value(m, "\x81\x61.dat", "k"), "lower trail");
    EXPECT_FALSE(common::equal_folded("\x81\x41", "\x81\x61"));
    EXPECT_TRUE(common::equal_folded("Ab\x81\x41", "aB\x81\x41"));
}

// A header's name ends at the line's last ']' of its own: file names may
// hold ']', and a two-byte character may end in 0x5D. A line without one is
// no header, so its key stays in the section before.
TEST(Manifest, SectionNamesEndAtTheirLastBracket) {
    Manifest m;
    m.add_file("a]b.txt", "\\a]b.txt", "t1");
    m.add_file("\x81\x5D.dat", "\\\x81\x5D.dat", "t2");
    TextBuffer out;
    m.render(out);
    Manifest read;
    parse(read, std::string(out.c_str()) + "[open=no header\r\n");
    EXPECT_EQ(value(read, "a]b.txt", "文件路径"), "\\a]b.txt");
    EXPECT_EQ(value(read, "\x81\x5D.dat", "文件日期"), "t2");
    EXPECT_EQ(value(read, "\x81\x5D.dat", "[open"), "no header");
    EXPECT_EQ(value(read, "a", "文件名"), "<missing>");
}

// Writing: sections and keys in the order of their first write, the version
// last, a section met again (names that differ in letter case) updated in
// place, CR LF lines.
TEST(Manifest, WritesSectionsAndKeysInTheirOrder) {
    Manifest m;
    m.add_file("a.txt", "\\a.txt", "2023-11-14 22:13:20");
    m.set_archive_size("a.txt", 123);
    m.add_file("x.dll", "\\Data\\x.dll", "2023-11-15 22:13:20");
    m.add_file("A.TXT", "\\Sub\\A.TXT", "2023-11-16 22:13:20");
    m.set_version("1.0");
    EXPECT_EQ(
        rendered(m),
        "[a.txt]\r\n文件名=A.TXT\r\n文件路径=\\Sub\\A.TXT\r\n文件日期=2023-11-16 22:13:20\r\n"
        "文件尺寸=123\r\n"
        "[x.dll]\r\n文件名=x.dll\r\n文件路径=\\Data\\x.dll\r\n文件日期=2023-11-15 22:13:20\r\n"
        "[版本]\r\n版本号=1.0\r\n");
}

// Many sections: the index grows and every section stays found.
TEST(Manifest, FindsEverySectionOfALargeManifest) {
    Manifest m;
    for (int i = 0; i < 5000; ++i) {
        const std::string name = "file" + std::to_string(i) + ".bin";
        m.add_file(name.c_str(), ("\\" + name).c_str(), std::to_string(i).c_str());
    }
    Manifest read;
    const std::string text = rendered(m);
    parse(read, text);
    EXPECT_EQ(read.section_count(), 5000u);
    for (int i = 0; i < 5000; i += 499)
        EXPECT_EQ(value(read, ("FILE" + std::to_string(i) + ".BIN").c_str(), "文件日期"),
                  std::to_string(i));
}

TEST(ManifestRules, WhichFilesBelongInAManifest) {
    const struct {
        const char* folder;
        const char* name;
        bool generator;
        bool eligible;
    } cases[] = {
        {"C:\\rel\\", "game.exe", true, true},
        {"C:\\rel\\Data\\", "up.dat", true, false},
        {"C:\\rel\\Data\\", "UP.DAT", true, true},  // exact name only
        {"C:\\rel\\update\\", "a.txt", true, false},
        {"C:\\update\\rel\\x\\", "a.txt", true, false},  // the release folder's own path counts
        {"C:\\rel\\Update\\", "a.txt", true, true},      // exact case only
        {"C:\\rel\\updates\\", "a.txt", true, true},
        {"/tmp/update/rel\\", "a.txt", true, false},  // either separator
        {"C:\\rel\\上传到服务器的更新文件\\1.0\\", "a.zip", true, false},
        {"C:\\rel\\上传到服务器的更新文件\\1.0\\", "a.zip", false, true},
        // A two-byte character ending in 0x5C is no separator before "update\".
        {"C:\\rel\\\x95\x5Cupdate\\", "a.txt", true, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(common::manifest_eligible(c.folder, c.name, c.generator), c.eligible)
            << c.folder << c.name;
}

TEST(ManifestRules, RelativePathIsWhatFollowsTheReleaseFolder) {
    TextBuffer root, deep;
    common::relative_path(root, "C:\\发布\\", 7, "game.exe");
    common::relative_path(deep, "C:\\发布\\Data\\Maps\\", 7, "m.bin");
    EXPECT_STREQ(root.c_str(), "\\game.exe");
    EXPECT_STREQ(deep.c_str(), "\\Data\\Maps\\m.bin");
}

}  // namespace
