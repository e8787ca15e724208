// Profile files: a table of tricky files read and written by our
// implementation and, the same table, by the system's profile functions
// under wine64 (GetPrivateProfileStringA / WritePrivateProfileStringA with
// the code page 936). Where our choice differs from Wine's on purpose, the
// case says so and gives Wine's result.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "base/encoding.h"
#include "runtime/kernel/services/profile_file.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_session.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_text;

// GBK bytes of a UTF-8 source text.
std::string G(std::string_view utf8) {
    auto gbk = base::utf8_to_gbk(utf8);
    EXPECT_TRUE(gbk.has_value()) << utf8;
    return gbk.value_or("");
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

constexpr const char* kMissing = "\x01missing";  // a case without a file

struct ReadCase {
    const char* what;
    std::string file;  // GBK bytes, or kMissing
    std::string section;
    std::string key;
    std::string value;  // what we read
    // When Wine reads something else on purpose: why, and what it reads.
    const char* wine_differs = nullptr;
    std::string wine_value = {};
};

const std::vector<ReadCase>& read_cases() {
    static const std::vector<ReadCase> cases = {
        {"letter case of names", "[Main]\r\nTitle=abc\r\n", "mAIN", "TITLE", "abc"},
        {"spaces and tabs around names and values", " \t[Main]\t \r\n \t Title \t=  a  b \t\r\n",
         " Main ", "\tTitle ", "a  b"},
        {"spaces inside the brackets", "[ Main ]\r\nk=1\r\n", "Main", "k", "1"},
        {"double quotes dropped", "[s]\r\nk= \"quoted \" \r\n", "s", "k", "quoted "},
        {"single quotes dropped", "[s]\r\nk='q'\r\n", "s", "k", "q"},
        {"quotes that do not match stay", "[s]\r\nk=\"q'\r\n", "s", "k", "\"q'"},
        {"a lone quote stays", "[s]\r\nk=\"\r\n", "s", "k", "\""},
        {"an empty quoted value", "[s]\r\nk=\"\"\r\n", "s", "k", ""},
        {"quotes inside stay", "[s]\r\nk=\"a\"b\"\r\n", "s", "k", "a\"b"},
        {"'=' in a value", "[s]\r\nk==a=b==\r\n", "s", "k", "=a=b=="},
        {"';' in a value", "[s]\r\nk=a ; b\r\n", "s", "k", "a ; b"},
        {"an empty value", "[s]\r\nk=\r\nj=x\r\n", "s", "k", ""},
        {"a blank value", "[s]\r\nk= \t \r\n", "s", "k", ""},
        {"the first duplicate key wins", "[s]\r\nk=1\r\nK=2\r\n", "s", "k", "1"},
        {"the first duplicate section wins", "[s]\r\nk=1\r\n[S]\r\nk=2\r\n", "s", "k", "1"},
        {"keys of a later duplicate section are not seen", "[s]\r\nk=1\r\n[S]\r\nj=2\r\n", "s", "j",
         ""},
        {"LF line ends", "[a]\nx=1\n[b]\ny=2\n", "b", "y", "2"},
        {"CR line ends", "[a]\rx=1\r[b]\ry=2\r", "b", "y", "2"},
        {"mixed line ends, no final one", "[a]\r\nx=1\n[b]\ry=2\r\nz=3", "b", "z", "3"},
        {"a missing file", kMissing, "s", "k", ""},
        {"a missing section", "[s]\r\nk=1\r\n", "t", "k", ""},
        {"a missing key", "[s]\r\nk=1\r\n", "s", "j", ""},
        {"an empty file", "", "s", "k", ""},
        {"keys before any section belong to none", "top=1\r\n[s]\r\nk=2\r\n", "s", "top", ""},
        {"a comment line is no key", "[s]\r\n;k=1\r\nk=2\r\n", "s", "k", "2"},
        {"a comment is not found by its text", "[s]\r\n;c=1\r\n", "s", ";c", "",
         "Wine takes a comment line for a key named with its ';'", "1"},
        {"a line without '=' is no key", "[s]\r\nk\r\nk=5\r\n", "s", "k", "5",
         "Wine takes the line for a key without a value, which hides the later key", ""},
        {"a header without ']' is an ordinary line", "[a]\r\nx=1\r\n[b\r\ny=2\r\n", "a", "y", "2"},
        {"text after the header's ']'", "[a] ; note\r\nk=1\r\n", "a", "k", "1"},
        {"the line's last ']' ends the name", "[a]b]\r\nk=1\r\n", "a]b", "k", "1"},
        {"GBK names", G("[版本]\r\n版本号=1.0\r\n"), G("版本"), G("版本号"), "1.0"},
        {"GBK value", G("[s]\r\nk=你好\r\n"), "s", "k", G("你好")},
        {"full-width letters keep their case", G("[ＡＢ]\r\nk=1\r\n"), G("ａｂ"), "k", ""},
        {"full-width letters in the same case", G("[ＡＢ]\r\nk=1\r\n"), G("ＡＢ"), "K", "1"},
        {"Greek and Cyrillic letters keep their case", G("[Ω]\r\nЖ=2\r\n"), G("Ω"), G("ж"), ""},
        {"a trail byte that is a letter is not folded",
         "[\x81\x41]\r\nk=A\r\n[\x81\x61]\r\nk=a\r\n", "\x81\x61", "k", "a"},
        {"a trail byte 0x5D is no ']'", "[\x81\x5D]\r\nk=1\r\n", "\x81\x5D", "k", "1"},
        {"an ideographic space is no blank", G("[s]\r\nk=　v　\r\n"), "s", "k", G("　v　")},
        {"an empty section name", "[]\r\nk=1\r\n", "", "k", ""},
        {"an empty key name", "[s]\r\n=1\r\n", "s", "", "",
         "Wine finds a line \"=1\" by the empty name; for us an empty name is no name, as "
         "a write with one is refused",
         "1"},
    };
    return cases;
}

struct Lookup {
    std::string section;
    std::string key;
    std::string value;                                     // what we read back after the write
    std::optional<std::string> wine_value = std::nullopt;  // when Wine reads something else
};

struct WriteCase {
    const char* what;
    std::string before;  // GBK bytes, or kMissing
    std::string section;
    std::string key;
    std::string value;
    bool ok;            // what the write gives
    std::string after;  // our bytes afterwards
    std::vector<Lookup> lookups;
    const char* wine_differs = nullptr;  // why Wine's write gives something else
};

const std::vector<WriteCase>& write_cases() {
    static const std::vector<WriteCase> cases = {
        {"an existing key",
         "; settings\r\n[A]\r\nx=1\r\n\r\ny=2\r\n",
         "a",
         "X",
         "9",
         true,
         "; settings\r\n[A]\r\nx=9\r\n\r\ny=2\r\n",
         {{"A", "x", "9"}, {"A", "y", "2"}}},
        {"an existing key with blanks around it",
         "[A]\r\n  x = 1 \r\n",
         "A",
         "x",
         "new",
         true,
         "[A]\r\n  x=new\r\n",
         {{"A", "x", "new"}}},
        {"a new key goes after the section's last entry",
         "[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\ny=2\r\n",
         "A",
         "z",
         "3",
         true,
         "[A]\r\nx=1\r\nz=3\r\n\r\n; about B\r\n[B]\r\ny=2\r\n",
         {{"A", "z", "3"}, {"B", "y", "2"}}},
        {"a new key in a file of LF line ends",
         "[A]\nx=1\n",
         "A",
         "z",
         "3",
         true,
         "[A]\nx=1\nz=3\n",
         {{"A", "x", "1"}, {"A", "z", "3"}}},
        {"a new key in a section that is only a header at the end",
         "[A]",
         "A",
         "k",
         "v",
         true,
         "[A]\r\nk=v\r\n",
         {{"A", "k", "v"}}},
        {"a new section after a last line without line end",
         "top=0\r\n[A]\r\nx=1",
         "B",
         "k",
         "v",
         true,
         "top=0\r\n[A]\r\nx=1\r\n[B]\r\nk=v\r\n",
         {{"A", "x", "1"}, {"B", "k", "v"}}},
        {"a new file", kMissing, "S", "k", "v", true, "[S]\r\nk=v\r\n", {{"s", "K", "v"}}},
        {"GBK names and value",
         G("[版本]\r\n版本号=1.0\r\n"),
         G("版本"),
         G("版本号"),
         G("二.0"),
         true,
         G("[版本]\r\n版本号=二.0\r\n"),
         {{G("版本"), G("版本号"), G("二.0")}}},
        {"the first of duplicate sections takes the write",
         "[A]\r\nk=1\r\n[a]\r\nk=2\r\nj=3\r\n",
         "a",
         "K",
         "4",
         true,
         "[A]\r\nk=4\r\n[a]\r\nk=2\r\nj=3\r\n",
         {{"A", "k", "4"}, {"A", "j", ""}}},
        {"a value with quotes and blanks is written as given",
         "[A]\r\n",
         "A",
         "k",
         "\" q \"",
         true,
         "[A]\r\nk=\" q \"\r\n",
         {{"A", "k", " q "}}},
        {"an empty value", "[A]\r\nk=1\r\n", "A", "k", "", true, "[A]\r\nk=\r\n", {{"A", "k", ""}}},
        {"a value with a line break is refused",
         "[A]\r\nk=1\r\n",
         "A",
         "k",
         "2\r\nk2=3",
         false,
         "[A]\r\nk=1\r\n",
         {{"A", "k", "1", "2"}, {"A", "k2", "", "3"}},
         "Wine writes the line break, and with it a second key"},
        {"a key with '=' is refused",
         "[A]\r\n",
         "A",
         "a=b",
         "1",
         false,
         "[A]\r\n",
         {{"A", "a", "", "b=1"}},
         "Wine writes it, and it reads back as another key"},
    };
    return cases;
}

class ProfileFilesTest : public ::testing::Test {
  protected:
    // Our result of reading (section, key) of `file` in the scratch folder.
    std::string read(const fs::path& file, const std::string& section, const std::string& key) {
        return files_.read(file.string(), section, key);
    }

    kernel::ProfileFiles files_;
    test_support::ScratchDir scratch_;
};

TEST_F(ProfileFilesTest, ReadTable) {
    int n = 0;
    for (const ReadCase& c : read_cases()) {
        SCOPED_TRACE(c.what);
        const fs::path file = scratch_ / ("read" + std::to_string(n++) + ".ini");
        if (c.file != kMissing)
            write_file(file, c.file);
        EXPECT_EQ(read(file, c.section, c.key), c.value);
    }
}

TEST_F(ProfileFilesTest, WriteTable) {
    int n = 0;
    for (const WriteCase& c : write_cases()) {
        SCOPED_TRACE(c.what);
        const fs::path file = scratch_ / ("write" + std::to_string(n++) + ".ini");
        if (c.before != kMissing) {
            write_file(file, c.before);
            read(file, "A", "x");  // cached before the write
        }
        EXPECT_EQ(files_.write(file.string(), c.section, c.key, c.value), c.ok);
        EXPECT_EQ(read_text(file), c.after);
        for (const Lookup& l : c.lookups)
            EXPECT_EQ(read(file, l.section, l.key), l.value) << l.section << "/" << l.key;
        // A fresh reader sees the same.
        kernel::ProfileFiles fresh;
        for (const Lookup& l : c.lookups)
            EXPECT_EQ(fresh.read(file.string(), l.section, l.key), l.value);
    }
    // No temporary file stays behind.
    for (const auto& entry : fs::directory_iterator(scratch_.path()))
        EXPECT_TRUE(entry.path().filename().string().starts_with("write")) << entry.path();
}

TEST_F(ProfileFilesTest, RefusedNamesLeaveTheFileAlone) {
    const fs::path file = scratch_ / "a.ini";
    write_file(file, "[A]\r\nk=1\r\n");
    const std::pair<std::string, std::string> refused[] = {
        {"", "k"},     {" \t", "k"}, {"A", ""},   {"A", "  "},    {"A\r\nB", "k"},
        {"A", "k\nj"}, {"A", "[k"},  {"A", ";k"}, {"A\x81", "k"},  // "[A\x81]": the ']' would be
                                                                   // the trail byte of the lead
                                                                   // byte 0x81
    };
    for (const auto& [section, key] : refused) {
        EXPECT_FALSE(files_.write(file.string(), section, key, "v")) << section << "/" << key;
        EXPECT_EQ(read_text(file), "[A]\r\nk=1\r\n");
    }
    EXPECT_FALSE(files_.write("", "A", "k", "v"));
    EXPECT_EQ(files_.read("", "A", "k"), "");
}

// Reading thousands of keys of one file parses it once; a change of the
// file's bytes is seen at the next read, however it came about.
TEST_F(ProfileFilesTest, ParsedOncePerVersion) {
    const fs::path file = scratch_ / "m.ini";
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += "[f" + std::to_string(i) + "]\r\nk=" + std::to_string(i) + "\r\n";
    write_file(file, text);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(read(file, "F" + std::to_string(i), "K"), std::to_string(i));
    EXPECT_EQ(files_.parses(), 1u);

    // Our own write: the next read takes the text it wrote.
    ASSERT_TRUE(files_.write(file.string(), "f1", "k", "x"));
    EXPECT_EQ(read(file, "f1", "k"), "x");

    // Rewritten in place with the same size at once: the same inode, often
    // the same time stamps. Read soon after its write, the file is compared
    // by content until its stamp is old enough to tell versions apart.
    const fs::path small = scratch_ / "s.ini";
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        write_file(small, "[s]\r\nk=1\r\n");
        ASSERT_EQ(read(small, "s", "k"), "1");
        write_file(small, "[s]\r\nk=2\r\n");
        ASSERT_EQ(read(small, "s", "k"), "2");
    }

    // Replaced by another file of the same size and the same old time
    // stamp: the identity tells them apart.
    const fs::path other = scratch_ / "o.ini";
    write_file(small, "[s]\r\nk=3\r\n");
    write_file(other, "[s]\r\nk=4\r\n");
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, small.c_str(), old, 0), 0);
    ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), old, 0), 0);
    ASSERT_EQ(read(small, "s", "k"), "3");
    const uint64_t parses = files_.parses();
    ASSERT_EQ(read(small, "s", "k"), "3");
    EXPECT_EQ(files_.parses(), parses);  // old enough: no second look
    fs::rename(other, small);
    EXPECT_EQ(read(small, "s", "k"), "4");

    // A write time ahead of the clock (a file unpacked from elsewhere) does
    // not make every read look at the bytes again.
    const fs::path ahead = scratch_ / "ahead.ini";
    write_file(ahead, text);
    const struct timespec future[2] = {{time(nullptr) + 3600, 0}, {time(nullptr) + 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, ahead.c_str(), future, 0), 0);
    const uint64_t reads = files_.reads();
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(read(ahead, "f" + std::to_string(i), "k"), std::to_string(i));
    EXPECT_EQ(files_.reads(), reads + 1);

    fs::remove(small);
    EXPECT_EQ(read(small, "s", "k"), "");
}

TEST_F(ProfileFilesTest, WritesKeepTheFileItselfAndRefuseWhatCannotBeWritten) {
    const fs::path file = scratch_ / "p.ini";
    write_file(file, "[A]\r\n");
    fs::permissions(file, fs::perms(0640));
    ASSERT_TRUE(files_.write(file.string(), "A", "k", "1"));
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640));

    // Through a link: the file it names changes, the link stays a link.
    const fs::path link = scratch_ / "link.ini";
    fs::create_symlink(file, link);
    ASSERT_TRUE(files_.write(link.string(), "A", "j", "2"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_text(file), "[A]\r\nk=1\r\nj=2\r\n");

    // A read-only file, a folder, a missing folder: false, nothing changes.
    const fs::path locked = scratch_ / "locked.ini";
    write_file(locked, "[A]\r\n");
    fs::permissions(locked, fs::perms(0444));
    EXPECT_FALSE(files_.write(locked.string(), "A", "k", "1"));
    EXPECT_EQ(read_text(locked), "[A]\r\n");
    fs::create_directory(scratch_ / "folder.ini");
    EXPECT_FALSE(files_.write((scratch_ / "folder.ini").string(), "A", "k", "1"));
    EXPECT_EQ(read(scratch_ / "folder.ini", "A", "k"), "");
    EXPECT_FALSE(files_.write((scratch_ / "no" / "x.ini").string(), "A", "k", "1"));
    EXPECT_FALSE(fs::exists(scratch_ / "no"));
}

// ---- The same tables under wine64 ----

std::string hex(const std::string& bytes) {
    if (bytes.empty())
        return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string unhex(const std::string& text) {
    std::string out;
    if (text == "-")
        return out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

TEST(ProfileUnderWine, SameTablesAsWindows) {
    const fs::path probe = PROFILE_PROBE_EXE;
    if (!fs::exists(probe))
        GTEST_SKIP() << "no Windows compiler: " << probe << " was not built";
    auto& wine = test_support::WineSession::ensure();
    if (wine.state() == test_support::WineSession::State::NotInstalled)
        GTEST_SKIP() << wine.message();
    ASSERT_EQ(wine.state(), test_support::WineSession::State::Running) << wine.message();

    test_support::ScratchDir scratch;
    std::ostringstream requests;
    // What each result line is, with the value Wine should give.
    struct Expected {
        std::string what;
        std::string value;
    };
    std::vector<Expected> expected;
    int n = 0;
    for (const ReadCase& c : read_cases()) {
        const fs::path file = scratch / ("read" + std::to_string(n++) + ".ini");
        if (c.file != kMissing)
            write_file(file, c.file);
        requests << "R " << hex(test_support::windows_path(file)) << " " << hex(c.section) << " "
                 << hex(c.key) << "\n";
        expected.push_back({c.what, c.wine_differs ? c.wine_value : c.value});
    }
    n = 0;
    for (const WriteCase& c : write_cases()) {
        const fs::path file = scratch / ("write" + std::to_string(n++) + ".ini");
        if (c.before != kMissing)
            write_file(file, c.before);
        const std::string path = hex(test_support::windows_path(file));
        requests << "W " << path << " " << hex(c.section) << " " << hex(c.key) << " "
                 << hex(c.value) << "\n";
        expected.push_back(
            {std::string(c.what) + ": write", c.wine_differs ? "1" : (c.ok ? "1" : "0")});
        for (const Lookup& l : c.lookups) {
            requests << "R " << path << " " << hex(l.section) << " " << hex(l.key) << "\n";
            expected.push_back({std::string(c.what) + ": " + l.section + "/" + l.key,
                                l.wine_value.value_or(l.value)});
        }
    }
    write_file(scratch / "requests", requests.str());

    std::vector<std::string> environment = wine.environment();
    environment.push_back("LC_ALL=zh_CN.UTF-8");  // the ANSI code page 936
    auto result = test_support::run(
        {wine.wine(), probe.string(), test_support::windows_path(scratch / "requests"),
         test_support::windows_path(scratch / "results")},
        environment, 120);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    std::istringstream results(read_text(scratch / "results"));
    std::string line;
    std::getline(results, line);
    if (line != "ACP 936")
        GTEST_SKIP() << "wine does not run with the code page 936: " << line;
    for (const Expected& e : expected) {
        ASSERT_TRUE(std::getline(results, line)) << e.what;
        if (e.what.ends_with(": write"))
            EXPECT_EQ(line, e.value) << e.what;
        else
            EXPECT_EQ(unhex(line), e.value) << e.what;
    }
}

}  // namespace
