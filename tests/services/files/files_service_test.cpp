// The file, folder and process services of the kernel, called directly on
// real folders: what a program relies on when it deletes, copies, writes and
// reads files, reads lines, asks for time stamps and starts processes.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "runtime/kernel/services/files.h"
#include "runtime/kernel/services/process.h"
#include "runtime/kernel/services/system_path.h"
#include "tests/services/files/kept_file.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace kernel;
using files_test::KeptFile;
using test_support::ScratchDir;

// A GBK path of a test file: test paths are ASCII apart from the names
// that say otherwise.
std::string gbk(const fs::path& path) {
    return path.string();
}

void write(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string content(const fs::path& path) {
    return test_support::read_text(path);
}

void set_mtime(const fs::path& path, time_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Names beside `path` that a replacement left behind.
std::vector<std::string> leftovers(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find("wjrt-tmp") != std::string::npos)
            names.push_back(entry.path().filename().string());
    return names;
}

TEST(FileServices, TimeTextIsUtcAndOnePerSecond) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "1970-01-01 00:00:00"},
        {1614834367, "2021-03-04 05:06:07"},
        {1614834368, "2021-03-04 05:06:08"},
        {951868799, "2000-02-29 23:59:59"},  // a leap day of a century year
        {951868800, "2000-03-01 00:00:00"},
        {-1, "1969-12-31 23:59:59"},  // before 1970 rounds down, not towards 0
        {-2203891200, "1900-03-01 00:00:00"},
        {253402300799, "9999-12-31 23:59:59"},
        {INT64_MAX, "9999-12-31 23:59:59"},  // clamped: four digits always
        {INT64_MIN, "0000-01-01 00:00:00"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(files::time_text(seconds), text) << seconds;
}

TEST(FileServices, LinesEndInLfOrCrLf) {
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},    // a last line without a line end counts
        {"a\n", {"a"}},  // no line after the final line end
        {"a\r\nb\nc", {"a", "b", "c"}},
        {"\n\r\n", {"", ""}},        // empty lines are lines
        {"a\rb\r\r\n", {"a\rb\r"}},  // a CR alone is no line end
        {std::string("x\0y\n", 4), {std::string("x\0y", 3)}},
    };
    for (const Case& c : cases) {
        auto bytes = std::span(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
        EXPECT_EQ(files::split_lines(bytes), c.lines) << c.bytes;
    }
}

TEST(FileServices, PathsConvertAtTheSystemEdge) {
    // Backslashes separate folders; the trail byte 0x5C of 乗 is no backslash.
    EXPECT_EQ(to_system_path("a\\b\\\x81\x5c.txt").value(), "a/b/乗.txt");
    EXPECT_EQ(to_system_path("\xb1\xed\\x").value(), "表/x");
    EXPECT_FALSE(to_system_path(""));
    EXPECT_FALSE(to_system_path("\x81"));  // half a character
    EXPECT_FALSE(to_system_path(std::string("a\0b", 3)));
    EXPECT_EQ(from_system_path("表").value(), "\xb1\xed");
}

TEST(FileServices, DeleteFolderRemovesLinksButNeverWhatTheyPointTo) {
    ScratchDir dir;
    fs::create_directories(dir / "outside" / "deep");
    write(dir / "outside" / "keep.txt", "keep");
    write(dir / "outside" / "deep" / "keep.txt", "keep");
    fs::create_directories(dir / "tree" / "sub" / "subsub");
    write(dir / "tree" / "a.txt", "a");
    write(dir / "tree" / "sub" / "subsub" / "b.txt", "b");
    fs::create_directory_symlink(dir / "outside", dir / "tree" / "sub" / "to_folder");
    fs::create_symlink(dir / "outside" / "keep.txt", dir / "tree" / "to_file");
    fs::create_symlink(dir / "nowhere", dir / "tree" / "dangling");

    // With a final separator the link in the path is still not followed.
    EXPECT_TRUE(files::delete_folder(gbk(dir / "tree") + "\\"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "tree")));
    EXPECT_EQ(content(dir / "outside" / "keep.txt"), "keep");
    EXPECT_EQ(content(dir / "outside" / "deep" / "keep.txt"), "keep");
}

TEST(FileServices, DeleteFolderOfWhatIsNoFolder) {
    ScratchDir dir;
    fs::create_directories(dir / "target");
    write(dir / "target" / "keep.txt", "keep");
    fs::create_directory_symlink(dir / "target", dir / "link");
    write(dir / "file", "file");
    struct Case {
        const char* what;
        std::string path;
        bool result;
    };
    const Case cases[] = {
        {"a link to a folder", gbk(dir / "link"), false},
        {"a link to a folder, with a separator", gbk(dir / "link") + "\\", false},
        {"a file", gbk(dir / "file"), false},
        {"nothing there", gbk(dir / "missing"), true},
        {"an empty path", "", false},
        {"the root", "\\", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(files::delete_folder(c.path), c.result) << c.what;
    }
    EXPECT_EQ(content(dir / "target" / "keep.txt"), "keep");
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(content(dir / "file"), "file");
}

TEST(FileServices, DeleteFolderReportsWhatStays) {
    ScratchDir dir;
    fs::create_directories(dir / "tree" / "stuck");
    fs::create_directories(dir / "tree" / "other");
    write(dir / "tree" / "other" / "gone.txt", "x");
    write(dir / "tree" / "gone.txt", "x");
    KeptFile kept(dir / "tree" / "stuck" / "kept.txt");
    if (!kept.works())
        GTEST_SKIP() << "no way to make a file that stays";
    EXPECT_FALSE(files::delete_folder(gbk(dir / "tree")));
    // Everything else went.
    EXPECT_TRUE(fs::exists(dir / "tree" / "stuck" / "kept.txt"));
    EXPECT_FALSE(fs::exists(dir / "tree" / "other"));
    EXPECT_FALSE(fs::exists(dir / "tree" / "gone.txt"));
}

TEST(FileServices, DeleteFileRemovesOneFileOrLink) {
    ScratchDir dir;
    write(dir / "target", "target");
    fs::create_symlink(dir / "target", dir / "link");
    fs::create_directory(dir / "folder");
    EXPECT_TRUE(files::delete_file(gbk(dir / "link")));
    EXPECT_EQ(content(dir / "target"), "target");
    EXPECT_FALSE(files::delete_file(gbk(dir / "folder")));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_FALSE(files::delete_file(gbk(dir / "missing")));
    EXPECT_TRUE(files::delete_file(gbk(dir / "target")));
    EXPECT_FALSE(fs::exists(dir / "target"));
    // Read-only, as Windows has it: the owner may not write the file.
    write(dir / "locked", "locked");
    chmod((dir / "locked").c_str(), 0444);
    EXPECT_FALSE(files::delete_file(gbk(dir / "locked")));
    EXPECT_EQ(content(dir / "locked"), "locked");
}

TEST(FileServices, CreateFolderMakesTheWholePath) {
    ScratchDir dir;
    write(dir / "file", "");
    EXPECT_TRUE(files::create_folder(gbk(dir.path()) + "\\a\\b\\c\\"));
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
    EXPECT_TRUE(files::create_folder(gbk(dir / "a")));  // already there
    EXPECT_FALSE(files::create_folder(gbk(dir / "file")));
    EXPECT_FALSE(files::create_folder(gbk(dir / "file" / "below")));
    EXPECT_FALSE(files::create_folder(""));
}

TEST(FileServices, CopyReplacesWholeOrNotAtAll) {
    ScratchDir dir;
    write(dir / "from", "new content");
    set_mtime(dir / "from", 1614834367);
    write(dir / "to", "old");
    fs::create_directory(dir / "folder");
    write(dir / "locked", "locked");
    chmod((dir / "locked").c_str(), 0444);

    EXPECT_TRUE(files::copy_file(gbk(dir / "from"), gbk(dir / "to")));
    EXPECT_EQ(content(dir / "to"), "new content");
    EXPECT_EQ(files::last_write_seconds(gbk(dir / "to")), 1614834367);  // kept, as on Windows
    EXPECT_TRUE(files::copy_file(gbk(dir / "to"), gbk(dir / "to")));    // onto itself
    EXPECT_EQ(content(dir / "to"), "new content");

    struct Case {
        const char* what;
        std::string from, to;
    };
    const Case failures[] = {
        {"missing source", gbk(dir / "missing"), gbk(dir / "to")},
        {"source is a folder", gbk(dir / "folder"), gbk(dir / "to")},
        {"target is a folder", gbk(dir / "from"), gbk(dir / "folder")},
        {"target's folder is missing", gbk(dir / "from"), gbk(dir / "none" / "to")},
        {"target is read-only", gbk(dir / "from"), gbk(dir / "locked")},
    };
    for (const Case& c : failures)
        EXPECT_FALSE(files::copy_file(c.from, c.to)) << c.what;
    EXPECT_EQ(content(dir / "to"), "new content");
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
    EXPECT_EQ(content(dir / "locked"), "locked");
    EXPECT_FALSE(fs::exists(dir / "none"));
    EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{});
}

// Moving aside never replaces anything and moves plain files only.
TEST(FileServices, MoveRenamesAPlainFileOntoAFreeName) {
    ScratchDir dir;
    write(dir / "from", "content");
    set_mtime(dir / "from", 1614834367);
    write(dir / "taken", "other");
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "taken", dir / "link");

    struct Case {
        const char* what;
        std::string from, to;
    };
    const Case failures[] = {
        {"target exists", gbk(dir / "from"), gbk(dir / "taken")},
        {"target is a folder", gbk(dir / "from"), gbk(dir / "folder")},
        {"missing source", gbk(dir / "missing"), gbk(dir / "free")},
        {"source is a folder", gbk(dir / "folder"), gbk(dir / "free")},
        {"source is a link", gbk(dir / "link"), gbk(dir / "free")},
        {"target's folder is missing", gbk(dir / "from"), gbk(dir / "none" / "to")},
        {"empty path", "", gbk(dir / "free")},
    };
    for (const Case& c : failures)
        EXPECT_FALSE(files::move_file(c.from, c.to)) << c.what;
    EXPECT_EQ(content(dir / "from"), "content");
    EXPECT_EQ(content(dir / "taken"), "other");
    EXPECT_FALSE(fs::exists(dir / "free"));

    EXPECT_TRUE(files::move_file(gbk(dir / "from"), gbk(dir / "folder" / "moved")));
    EXPECT_FALSE(fs::exists(dir / "from"));
    EXPECT_EQ(content(dir / "folder" / "moved"), "content");
    EXPECT_EQ(files::last_write_seconds(gbk(dir / "folder" / "moved")), 1614834367);
}

// Appending adds to an existing plain file of the length the caller knows,
// and to nothing else.
TEST(FileServices, AppendAddsToAPlainFileOfTheKnownLength) {
    ScratchDir dir;
    write(dir / "file", "abc");
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "file", dir / "link");
    const std::string more = "defg";
    const std::span bytes(reinterpret_cast<const uint8_t*>(more.data()), more.size());

    struct Case {
        const char* what;
        std::string path;
        int64_t length;
    };
    const Case refused[] = {
        {"missing file", gbk(dir / "missing"), -1},
        {"folder", gbk(dir / "folder"), -1},
        {"link", gbk(dir / "link"), -1},
        {"device", "/dev/null", -1},
        {"shorter than known", gbk(dir / "file"), 4},
        {"longer than known", gbk(dir / "file"), 2},
        {"empty path", "", -1},
    };
    for (const Case& c : refused)
        EXPECT_FALSE(files::append_file(c.path, bytes, c.length)) << c.what;
    EXPECT_EQ(content(dir / "file"), "abc");
    EXPECT_FALSE(fs::exists(dir / "missing"));

    EXPECT_TRUE(files::append_file(gbk(dir / "file"), bytes, 3));
    EXPECT_TRUE(files::append_file(gbk(dir / "file"), bytes, -1));
    EXPECT_TRUE(files::append_file(gbk(dir / "file"), {}, 11));
    EXPECT_EQ(content(dir / "file"), "abcdefgdefg");
}

TEST(FileServices, WriteReplacesAndKeepsTheOldContentOnFailure) {
    ScratchDir dir;
    fs::create_directory(dir / "sub");
    write(dir / "sub" / "file", "old");
    chmod((dir / "sub" / "file").c_str(), 0640);
    const std::string text = "\xd2\xbb\r\n";
    const auto bytes = std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());

    EXPECT_TRUE(files::write_file(gbk(dir / "sub" / "file"), bytes));
    EXPECT_EQ(content(dir / "sub" / "file"), text);
    struct stat st;
    ASSERT_EQ(stat((dir / "sub" / "file").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // a rewritten file keeps its permissions
    EXPECT_TRUE(files::write_file(gbk(dir / "sub" / "empty"), {}));
    EXPECT_EQ(files::file_size(gbk(dir / "sub" / "empty")), 0);

    EXPECT_FALSE(files::write_file(gbk(dir / "missing" / "file"), bytes));
    EXPECT_FALSE(files::write_file(gbk(dir / "sub"), bytes));
    write(dir / "sub" / "locked", "locked");
    chmod((dir / "sub" / "locked").c_str(), 0444);
    EXPECT_FALSE(files::write_file(gbk(dir / "sub" / "locked"), bytes));  // read-only
    EXPECT_EQ(content(dir / "sub" / "locked"), "locked");
    EXPECT_EQ(leftovers(dir / "sub"), std::vector<std::string>{});

    // A folder where nothing new can be made: the file keeps its content.
    int fd = open((dir / "sub").c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    const bool sealed = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                        ioctl(fd, FS_IOC_SETFLAGS, &(flags |= FS_IMMUTABLE_FL)) == 0;
    if (sealed) {
        EXPECT_FALSE(files::write_file(gbk(dir / "sub" / "file"), {}));
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
        EXPECT_EQ(content(dir / "sub" / "file"), text);
    }
    if (fd >= 0)
        close(fd);
}

TEST(FileServices, ReadSizeAndTimeOfFilesOnly) {
    ScratchDir dir;
    write(dir / "file", std::string("a\0b", 3));
    set_mtime(dir / "file", 951868799);
    fs::create_directory(dir / "folder");
    EXPECT_EQ(files::read_file(gbk(dir / "file")), (std::vector<uint8_t>{'a', 0, 'b'}));
    EXPECT_EQ(files::file_size(gbk(dir / "file")), 3);
    EXPECT_EQ(files::time_text(*files::last_write_seconds(gbk(dir / "file"))),
              "2000-02-29 23:59:59");
    EXPECT_FALSE(files::read_file(gbk(dir / "folder")));
    EXPECT_EQ(files::file_size(gbk(dir / "folder")), -1);
    EXPECT_FALSE(files::read_file(gbk(dir / "missing")));
    EXPECT_EQ(files::file_size(gbk(dir / "missing")), -1);
    EXPECT_FALSE(files::last_write_seconds(gbk(dir / "missing")));
    EXPECT_TRUE(files::exists(gbk(dir / "folder")));
    EXPECT_FALSE(files::exists(""));
}

TEST(FileServices, LineFilesAreReadAtOpeningAndHandlesAreChecked) {
    ScratchDir dir;
    write(dir / "lines", "one\r\ntwo");
    files::LineFiles lines;
    EXPECT_EQ(lines.open(gbk(dir / "missing")), 0);
    const int32_t first = lines.open(gbk(dir / "lines"));
    const int32_t second = lines.open(gbk(dir / "lines"));
    ASSERT_NE(first, 0);
    ASSERT_NE(second, first);
    fs::remove(dir / "lines");  // the content was taken at the opening
    EXPECT_EQ(lines.next(first), "one");
    EXPECT_EQ(lines.next(first), "two");
    EXPECT_EQ(lines.next(first), std::nullopt);
    EXPECT_EQ(lines.next(second), "one");
    EXPECT_TRUE(lines.close(first));
    EXPECT_FALSE(lines.is_open(first));
    EXPECT_FALSE(lines.close(first));
    EXPECT_EQ(lines.next(first), std::nullopt);
    write(dir / "lines", "x");
    EXPECT_NE(lines.open(gbk(dir / "lines")), first);  // a closed handle is not given again
}

TEST(ProcessServices, CommandLinesSplitAsWindowsSplitsThem) {
    struct Case {
        std::string line;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"update.exe", {"update.exe"}},
        {"  \t ", {}},
        {"\"C:\\Program Files\\a b.exe\"  x", {"C:\\Program Files\\a b.exe", "x"}},
        // The program takes backslashes before a quote as they stand.
        {"\"C:\\dir\\\" y", {"C:\\dir\\", "y"}},
        {"p a\\\\\\\"b c", {"p", "a\\\"b", "c"}},  // 2n+1 backslashes: n and a quote
        {"p \"a\\\\\" b", {"p", "a\\", "b"}},      // 2n backslashes: n, the quote groups
        {"p a\\b\\\\c", {"p", "a\\b\\\\c"}},       // other backslashes stand
        {"p \"a \"\"b\"\" c\"", {"p", "a \"b\" c"}},
        {"p \"\" x", {"p", "", "x"}},
        {"p a\"b c\"d", {"p", "ab cd"}},
        {"\xd2\xbb\x81\x5c\" x", {"\xd2\xbb\x81\x5c\"", "x"}},  // 乗 ends in 0x5C: no escape
        {"p \x81\x5c\" x\"", {"p", "\x81\x5c x"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(process::split_command_line(c.line), c.words) << c.line;
}

TEST(ProcessServices, RunWaitsForTheExitCode) {
    ScratchDir dir;
    fs::create_directory(dir / "a b");
    write(dir / "a b" / "prog", "#!/bin/sh\nexit \"$1\"\n");
    chmod((dir / "a b" / "prog").c_str(), 0755);
    write(dir / "plain", "not a program");
    const std::string program = "\"" + gbk(dir / "a b" / "prog") + "\"";
    struct Case {
        std::string line;
        bool wait;
        int32_t result;
    };
    const Case cases[] = {
        {program + " 7", true, 7},           {program + " 0", true, 0},
        {program + " 9", false, 0},          {"/bin/sh -c \"kill -9 $$\"", true, 128 + 9},
        {gbk(dir / "missing"), true, -1},    {gbk(dir / "plain"), true, -1},  // not executable
        {"no-such-program-here", false, -1}, {"", true, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(process::run(c.line, c.wait), c.result) << c.line;
    EXPECT_EQ(process::transcript_line("\"a b\" \xd2\xbb", true),
              "run \"\\\"a b\\\" 一\" wait=yes");
}

TEST(ProcessServices, DesktopIsTheXdgFolderOrHomeDesktop) {
    ScratchDir dir;
    const std::string home = (dir / "home").string();
    fs::create_directories(dir / "config");
    const char* old_home = std::getenv("HOME");
    const std::string saved_home = old_home != nullptr ? old_home : "";
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    EXPECT_EQ(process::desktop_folder(), home + "/Desktop");
    write(dir / "config" / "user-dirs.dirs", "# comment\nXDG_DESKTOP_DIR=\"$HOME/桌面\"\n");
    EXPECT_EQ(process::desktop_folder(), home + "/\xd7\xc0\xc3\xe6");
    write(dir / "config" / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"/elsewhere/d/\"\n");
    EXPECT_EQ(process::desktop_folder(), "/elsewhere/d");
    setenv("HOME", saved_home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");

    EXPECT_EQ(process::current_folder(), fs::current_path().string());
    EXPECT_EQ(process::program_folder(), fs::read_symlink("/proc/self/exe").parent_path().string());
}

}  // namespace
