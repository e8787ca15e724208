#include "runtime/kernel/services/file_search.h"

#include <gtest/gtest.h>

#include "base/encoding.h"
#include "tests/support/test_support.h"

namespace kernel {
namespace {

TEST(FilePattern, Matching) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"up.dat", "*.*", true},
        {"README", "*.*", true},  // with or without a dot
        {"wow.exe", "*.EXE", true},
        {"WOW.EXE", "w?w.exe", true},
        {"wow.exe", "w?.exe", false},
        {"a.b.c", "*.c", true},
        {"abc", "a*b*c", true},
        {"abd", "a*b*c", false},
        {"", "*", true},
        {"x", "", false},
        // Double-byte characters: ? takes one whole character, and a trail
        // byte 'A' (0x41) is not folded to 'a'.
        {"\xB1\x5C.txt", "?.txt", true},
        {"\x81\x41", "\x81\x61", false},
        {"\xD6\xD0\xCE\xC4.ini", "\xD6\xD0*.ini", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matches_pattern(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

TEST(FileSearch, FilesOrFoldersInOneOrderEverywhere) {
    test_support::ScratchDir dir;
    for (const char* name : {"b.txt", "A.txt", "c.dat", "a.TXT"})
        test_support::write_bytes(dir / name, std::vector<uint8_t>{1});
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_directory(dir / "Other");
    // A GBK name whose trail byte is a backslash, stored as UTF-8 on Linux.
    const std::string gbk_name = "\xB1\x5C.txt";
    test_support::write_bytes(dir / *base::gbk_to_utf8(gbk_name), std::vector<uint8_t>{1});

    FileSearches searches;
    auto all = [&](uint32_t handle) {
        std::vector<std::string> names;
        while (auto name = searches.next(handle))
            names.push_back(*name);
        return names;
    };
    // The program's own separator is the backslash.
    std::string folder = dir.path().string() + "\\";
    EXPECT_EQ(all(searches.start(folder + "*.txt", 0)),
              (std::vector<std::string>{"A.txt", "a.TXT", "b.txt", gbk_name}));
    EXPECT_EQ(all(searches.start(folder + "*", kSearchDirectories)), (std::vector<std::string>{"Other", "sub"}));
    EXPECT_TRUE(all(searches.start(folder + "missing\\*.*", 0)).empty());

    uint32_t ended = searches.start(folder + "*.*", 0);
    searches.end(ended);
    EXPECT_FALSE(searches.next(ended)) << "an ended search gives nothing more";
    EXPECT_FALSE(searches.next(12345)) << "an unknown handle gives nothing";
}

}  // namespace
}  // namespace kernel
