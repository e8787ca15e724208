// The eCompress library as the kernel loads it: its LibraryCommand export,
// called with argument blocks the way a program passes them. Archives it
// writes are read back by other ZIP readers; archives it is given are made
// byte by byte (zip_fixture.h), hostile ones included.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/encoding.h"
#include "contract/runtime_abi.h"
#include "tests/services/archives/zip_fixture.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using archive_fixture::Entry;
using test_support::read_text;

const fs::path kLibrary = fs::path(NATIVE_BUILD_DIR) / "runtime" / "libraries" / "eCompress.fne";

int64_t text_length(const void* address) {
    return address != nullptr ? static_cast<int64_t>(std::strlen(static_cast<const char*>(address)))
                              : -1;
}
int64_t no_byte_arrays(const void*) {
    return -1;
}
void fatal(const char* text) {
    std::fprintf(stderr, "fatal: %s\n", text);
    std::abort();
}
void* heap_new(uint32_t size) {
    return std::malloc(size);
}
void heap_free(void* block) {
    std::free(block);
}
const RtKernelServices kServices{heap_new, heap_free, text_length, no_byte_arrays, fatal};

// GBK of a UTF-8 text (the tests write their names in UTF-8).
std::string gbk(const std::string& utf8) {
    return base::utf8_to_gbk(utf8).value();
}

void write_text(const fs::path& path, const std::string& text) {
    test_support::write_bytes(
        path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void set_mtime(const fs::path& path, int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

int64_t mtime(const fs::path& path) {
    struct stat facts;
    if (stat(path.c_str(), &facts) != 0)
        return -1;
    return facts.st_mtim.tv_sec;
}

// Every name in a folder, sorted: what a command left behind, temporaries too.
std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    if (fs::exists(folder)) {
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Archives : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        handle_ = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        command_ =
            reinterpret_cast<RtLibraryCommandExport>(dlsym(handle_, RT_LIBRARY_COMMAND_EXPORT));
        ASSERT_NE(command_, nullptr);
    }

    void SetUp() override { setenv("WJRT_TRANSCRIPT", (dir_ / "transcript").c_str(), 1); }
    void TearDown() override { unsetenv("WJRT_TRANSCRIPT"); }

    // The command with two GBK path arguments, as a program passes them;
    // paths inside the scratch folder are written with a backslash.
    bool call(int32_t command, const std::string& first, const std::string& second) {
        struct {
            uint32_t count;
            RtArgument items[2];
        } block{2, {text(first), text(second)}};
        return command_(command, reinterpret_cast<const RtArgumentBlock*>(&block), &kServices) != 0;
    }
    static RtArgument text(const std::string& value) {
        const uint64_t address = reinterpret_cast<uintptr_t>(value.c_str());
        return RtArgument{static_cast<uint32_t>(address), static_cast<uint32_t>(address >> 32),
                          RT_TYPE_TEXT};
    }
    // A GBK path of the scratch folder: its own (ASCII) path, a backslash, the name.
    std::string in_dir(const std::string& utf8_name) const {
        return dir_.path().string() + "\\" + gbk(utf8_name);
    }
    bool pack(const std::string& file, const std::string& archive) {
        return call(RT_ECOMPRESS_PACK_FILE, file, archive);
    }
    bool unpack(const std::string& archive, const std::string& folder) {
        return call(RT_ECOMPRESS_UNPACK, archive, folder);
    }
    void make_archive(const std::string& name, const std::vector<Entry>& entries) {
        test_support::write_bytes(dir_ / name, archive_fixture::build(entries));
    }

    static void* handle_;
    static RtLibraryCommandExport command_;
    test_support::ScratchDir dir_;
};

void* Archives::handle_ = nullptr;
RtLibraryCommandExport Archives::command_ = nullptr;

// Python's reader: one line per entry with the name's bytes in hex, the
// content, the DOS time and the last-write time of an extended timestamp
// field (-1 when none).
const char* const kPythonReader = R"(
import struct, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        raw = i.filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')
        extra, t = i.extra, -1
        while len(extra) >= 4:
            kind, size = struct.unpack('<HH', extra[:4])
            if kind == 0x5455 and size >= 5 and extra[4] & 1:
                t = struct.unpack('<I', extra[5:9])[0]
            extra = extra[4 + size:]
        print(raw.hex(), z.read(i).decode(), '%04d-%02d-%02d %02d:%02d:%02d' % i.date_time, t)
)";

// A program found through PATH (the test's spawning takes full paths).
std::string on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/bin";
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const fs::path candidate = fs::path(rest.substr(0, colon)) / name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
        rest = colon == std::string_view::npos ? "" : rest.substr(colon + 1);
    }
    return name;
}

std::string hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

std::string dos_text(int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    tm local;
    localtime_r(&t, &local);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec / 2 * 2);
    return text;
}

// An odd second, so that a DOS time (two-second steps) cannot stand in for it.
constexpr int64_t kWhen = 1623760497;  // 2021-06-15 12:34:57 UTC

TEST_F(Archives, PackedArchiveHoldsTheFileUnderItsBareNameWithItsTime) {
    // 乗 has the trail byte 0x5C ('\') in GBK: it must not split the name.
    fs::create_directories(dir_ / "数据");
    write_text(dir_ / "数据" / "乗说明.txt", "hello archive\n");
    set_mtime(dir_ / "数据" / "乗说明.txt", kWhen);
    ASSERT_TRUE(pack(in_dir("数据\\乗说明.txt"), in_dir("包.zip")));

    auto tested = test_support::run({on_path("unzip"), "-t", (dir_ / "包.zip").string()}, {});
    EXPECT_EQ(tested.exit_code, 0) << tested.out << tested.err;
    EXPECT_NE(tested.out.find("No errors detected"), std::string::npos) << tested.out;

    auto read = test_support::run(
        {on_path("python3"), "-c", kPythonReader, (dir_ / "包.zip").string()}, {});
    ASSERT_EQ(read.exit_code, 0) << read.err;
    EXPECT_EQ(read.out, hex(gbk("乗说明.txt")) + " hello archive\n " + dos_text(kWhen) + " " +
                            std::to_string(kWhen) + "\n");
    EXPECT_EQ(listing(dir_.path()), (std::vector<std::string>{"包.zip", "数据"}));
}

TEST_F(Archives, PackingReplacesAnArchiveOnlyWhenItSucceeds) {
    write_text(dir_ / "a.txt", "new");
    write_text(dir_ / "out.zip", "old archive");
    ASSERT_TRUE(pack(in_dir("a.txt"), in_dir("out.zip")));
    auto read = test_support::run(
        {on_path("python3"), "-c", kPythonReader, (dir_ / "out.zip").string()}, {});
    EXPECT_TRUE(read.out.starts_with(hex("a.txt") + " new ")) << read.out;

    const std::vector<uint8_t> before = test_support::read_bytes(dir_ / "out.zip");
    fs::create_directories(dir_ / "folder");
    const std::pair<const char*, std::string> failures[] = {
        {"missing file", in_dir("none.txt")},
        {"a folder", in_dir("folder")},
        {"a path ending in a separator", in_dir("folder") + "\\"},
        {"not GBK", in_dir("a") + "\xFF.txt"},
    };
    for (const auto& [what, file] : failures) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(pack(file, in_dir("out.zip")));
        EXPECT_EQ(test_support::read_bytes(dir_ / "out.zip"), before);
    }
    // An archive that cannot be renamed into place leaves no temporary behind.
    EXPECT_FALSE(pack(in_dir("a.txt"), in_dir("folder")));
    EXPECT_EQ(listing(dir_.path()),
              (std::vector<std::string>{"a.txt", "folder", "out.zip", "transcript"}));
}

TEST_F(Archives, RoundTripRestoresContentAndTime) {
    std::string big;
    for (int i = 0; i < 200000; ++i)
        big += std::to_string(i * 7919 % 10007) + ",";
    write_text(dir_ / "大文件.dat", big);
    set_mtime(dir_ / "大文件.dat", kWhen);
    ASSERT_TRUE(pack(in_dir("大文件.dat"), in_dir("大.zip")));
    // The destination folder and the folders above it are made; the folder
    // may end in a separator, as the updater writes it.
    ASSERT_TRUE(unpack(in_dir("大.zip"), in_dir("出\\子\\")));
    EXPECT_EQ(read_text(dir_ / "出" / "子" / "大文件.dat"), big);
    EXPECT_EQ(mtime(dir_ / "出" / "子" / "大文件.dat"), kWhen);
    EXPECT_EQ(listing(dir_ / "出" / "子"), std::vector<std::string>{"大文件.dat"});
}

TEST_F(Archives, UnpackWritesEveryEntryWithItsTime) {
    // An existing file is replaced; names may be GBK, or UTF-8 when flagged.
    write_text(dir_ / "ok.txt", "old");
    Entry stamped{"ok.txt", "with extended time", true};
    stamped.extra = archive_fixture::extended_time(static_cast<uint32_t>(kWhen));
    stamped.dos_time = 1 << 11;  // a DOS time that must not win over the field
    Entry dos_only{gbk("乗说明.txt"), "only a DOS time"};
    dos_only.dos_date = static_cast<uint16_t>((2020 - 1980) << 9 | 2 << 5 | 29);
    dos_only.dos_time = static_cast<uint16_t>(23 << 11 | 59 << 5 | 58 / 2);
    Entry utf8{"名单.txt", "", false, 0x0800};
    // Some writers give an empty deflated file no stream at all.
    Entry no_stream{"void.dat", "", true};
    no_stream.stored = "";
    make_archive("a.zip", {stamped, dos_only, utf8, no_stream});

    ASSERT_TRUE(unpack(in_dir("a.zip"), dir_.path().string()));
    EXPECT_EQ(read_text(dir_ / "ok.txt"), "with extended time");
    EXPECT_EQ(mtime(dir_ / "ok.txt"), kWhen);
    EXPECT_EQ(read_text(dir_ / "乗说明.txt"), "only a DOS time");
    // A DOS time is local time.
    tm local{};
    local.tm_year = 120, local.tm_mon = 1, local.tm_mday = 29;
    local.tm_hour = 23, local.tm_min = 59, local.tm_sec = 58, local.tm_isdst = -1;
    EXPECT_EQ(mtime(dir_ / "乗说明.txt"), mktime(&local));
    EXPECT_EQ(read_text(dir_ / "名单.txt"), "");
    EXPECT_EQ(listing(dir_.path()),
              (std::vector<std::string>{"a.zip", "ok.txt", "void.dat", "乗说明.txt", "名单.txt"}));
    EXPECT_EQ(read_text(dir_ / "void.dat"), "");
}

// An archive with one entry that may not be written is refused whole: the
// plain entry before it is not written either, and the transcript says why.
TEST_F(Archives, HostileEntriesRefuseTheWholeArchive) {
    const std::string crc_data = "some data";
    struct Case {
        const char* what;
        Entry entry;
        const char* why;
    };
    const Case cases[] = {
        {"parent folder", {"../x", "x"}, "not a plain file name"},
        {"folder part", {"a/b", "x"}, "not a plain file name"},
        {"folder entry", {"a/", ""}, "not a plain file name"},
        {"absolute path", {"/abs", "x"}, "not a plain file name"},
        {"drive", {"C:x", "x"}, "not a plain file name"},
        {"backslash", {"a\\b", "x"}, "not a plain file name"},
        {"dot dot", {"..", "x"}, "not a plain file name"},
        {"empty name", {"", "x"}, "not a plain file name"},
        {"control byte",
         {"a\x01"
          "b",
          "x"},
         "not a plain file name"},
        {"zero byte", {std::string("a\0b", 3), "x"}, "not a plain file name"},
        {"not GBK", {"a\xFF.txt", "x"}, "not a plain file name"},
        {"lone lead byte", {"a\xB0", "x"}, "not a plain file name"},
        {"device name", {"con.txt", "x"}, "not a plain file name"},
        {"device name with blanks before the dot", {"NUL .txt", "x"}, "not a plain file name"},
        {"console device", {"conout$", "x"}, "not a plain file name"},
        {"port zero", {"com0.log", "x"}, "not a plain file name"},
        {"wildcard", {"a*.txt", "x"}, "not a plain file name"},
        {"trailing dot", {"a.", "x"}, "not a plain file name"},
        {"UTF-8 flag on bytes that are not UTF-8",
         {"\xB0\xA1", "x", false, 0x0800},
         "the name is not UTF-8 or has no GBK form"},
        {"same name twice, other case", {"OK.TXT", "x"}, "the name comes twice"},
        {"encrypted", {"e.txt", "x", false, 0x0001}, "encrypted"},
        {"wrong CRC", {"c.txt", crc_data, true, 0, 0x12345678}, "CRC mismatch"},
        {"shorter than declared",
         {"s.txt", "short", false, 0, std::nullopt, 99},
         "less data than its declared size"},
        {"a folder of that name", {"sub", "x"}, "a folder has this name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test_support::ScratchDir out;
        fs::create_directories(out / "sub");
        make_archive("bad.zip", {{"ok.txt", "fine"}, c.entry});
        fs::remove(dir_ / "transcript");
        EXPECT_FALSE(unpack(in_dir("bad.zip"), out.path().string()));
        EXPECT_EQ(listing(out.path()), std::vector<std::string>{"sub"});
        const std::string line = read_text(dir_ / "transcript");
        EXPECT_NE(line.find("archive-failed command=unpack"), std::string::npos) << line;
        EXPECT_NE(line.find(std::string("why=\"") + c.why + "\""), std::string::npos) << line;
    }
    // The same archive with a plain second name is fine.
    make_archive("good.zip", {{"ok.txt", "fine"}, {"x", "x"}});
    EXPECT_TRUE(unpack(in_dir("good.zip"), in_dir("good")));
    EXPECT_EQ(listing(dir_ / "good"), (std::vector<std::string>{"ok.txt", "x"}));
}

void patch32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t crc_of(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Archives whose headers lie about an entry's data are refused with nothing
// of them left behind: not the folder made for them, not the sound entry
// before the lying one, not the part of the lying entry up to its declared
// size.
TEST_F(Archives, LyingEntriesAreRefusedBeforeAnythingIsWritten) {
    const std::string whole(4 << 20, 'z');
    const std::string part = whole.substr(0, 1000);
    const std::string text = "some text that deflate can shorten, some text that deflate can";
    std::string noise(64 << 10, '\0');  // what deflate cannot shorten
    uint32_t state = 1;
    for (char& c : noise) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    const auto stored_as = [](Entry entry, std::string stored) {
        entry.stored = std::move(stored);
        return entry;
    };
    struct Case {
        const char* what;
        Entry entry;
        const char* why;
    };
    const Case cases[] = {
        {"inflates past its size, CRC of the whole",
         {"bomb", whole, true, 0, crc_of(whole), 1000},
         "more data than its declared size"},
        {"inflates past its size, CRC of the declared part",
         {"bomb", whole, true, 0, crc_of(part), 1000},
         "more data than its declared size"},
        {"stored, more than its size",
         {"s", text, false, 0, std::nullopt, 10},
         "more data than its declared size"},
        {"stored, less than its size",
         {"s", text, false, 0, std::nullopt, 99},
         "less data than its declared size"},
        {"deflated, less than its size",
         {"d", whole, true, 0, crc_of(whole), (4 << 20) + 1},
         "less data than its declared size"},
        {"a size deflate cannot reach",
         {"d", text, true, 0, std::nullopt, 50u << 20},
         "its declared size is more than its data can hold"},
        {"CRC of other data", {"c", whole, true, 0, crc_of(part)}, "CRC mismatch"},
        {"stored, CRC of other data", {"c", text, false, 0, 0x12345678}, "CRC mismatch"},
        {"bytes after the end of its stream",
         stored_as({"t", text, true}, archive_fixture::deflated(text) + "trailing"),
         "the data is damaged"},
        {"a stream cut short",
         stored_as({"t", noise, true},
                   archive_fixture::deflated(noise).substr(0, noise.size() / 2)),
         "less data than its declared size"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        make_archive("lie.zip", {{"ok.txt", "fine", true}, c.entry});
        fs::remove(dir_ / "transcript");
        EXPECT_FALSE(unpack(in_dir("lie.zip"), in_dir("out")));
        EXPECT_FALSE(fs::exists(dir_ / "out"));
        const std::string line = read_text(dir_ / "transcript");
        EXPECT_NE(line.find(std::string("why=\"") + c.why + "\""), std::string::npos) << line;
    }
}

// An archive too large to be read into memory is read where it lies, with
// the same checks; a lie in its last entry leaves none of the folders that
// were made for it, however deep.
TEST_F(Archives, LargeArchivesAreCheckedAsTheyAreRead) {
    std::string big(17 << 20, '\0');  // more than unpacking reads into memory
    uint32_t state = 7;
    for (char& c : big) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    const std::string text(300000, 'q');
    make_archive("large.zip", {{"big.bin", big}, {"text.txt", text, true}});
    ASSERT_GT(fs::file_size(dir_ / "large.zip"), big.size());
    EXPECT_TRUE(unpack(in_dir("large.zip"), in_dir("good")));
    EXPECT_EQ(read_text(dir_ / "good" / "big.bin"), big);
    EXPECT_EQ(read_text(dir_ / "good" / "text.txt"), text);

    make_archive("large.zip", {{"big.bin", big}, {"text.txt", text, true, 0, crc_of(text) ^ 1}});
    fs::remove(dir_ / "transcript");
    EXPECT_FALSE(unpack(in_dir("large.zip"), in_dir("new\\deeper")));
    EXPECT_FALSE(fs::exists(dir_ / "new"));
    const std::string line = read_text(dir_ / "transcript");
    EXPECT_NE(line.find("entry=\"text.txt\" why=\"CRC mismatch\""), std::string::npos) << line;
}

// Where entries' data lies: inside the archive, and no byte in two entries
// (entries that share their data inflate it once each).
TEST_F(Archives, EntriesWhoseDataOverlapsOrLiesOutsideAreRefused) {
    const std::string data(3000, 'q');
    // The central directory's n-th entry.
    const auto directory_entry = [](const std::vector<uint8_t>& bytes, int n) {
        size_t at = 0;
        for (int seen = -1; at + 4 <= bytes.size(); ++at) {
            if (bytes[at] == 'P' && bytes[at + 1] == 'K' && bytes[at + 2] == 1 &&
                bytes[at + 3] == 2 && ++seen == n)
                break;
        }
        return at;
    };
    struct Case {
        const char* what;
        void (*change)(std::vector<uint8_t>& bytes, size_t second_entry);
        const char* why;
    };
    const Case cases[] = {
        {"two entries of one local header",
         [](std::vector<uint8_t>& bytes, size_t second) { patch32(bytes, second + 42, 0); },
         "its data overlaps another entry's"},
        {"data running past the end",
         [](std::vector<uint8_t>& bytes, size_t second) {
             const size_t local = bytes[second + 42] | bytes[second + 43] << 8;
             patch32(bytes, local + 18, 0x10000000);   // compressed size, local header
             patch32(bytes, second + 20, 0x10000000);  // and central directory
         },
         "its data lies outside the archive"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = archive_fixture::build({{"a", data, true}, {"b", data, true}});
        c.change(bytes, directory_entry(bytes, 1));
        test_support::write_bytes(dir_ / "bad.zip", bytes);
        fs::remove(dir_ / "transcript");
        EXPECT_FALSE(unpack(in_dir("bad.zip"), in_dir("out")));
        EXPECT_FALSE(fs::exists(dir_ / "out"));
        const std::string line = read_text(dir_ / "transcript");
        EXPECT_NE(line.find(std::string("why=\"") + c.why + "\""), std::string::npos) << line;
    }
}

TEST_F(Archives, WhatIsNotAnArchiveIsRefused) {
    write_text(dir_ / "text.zip", "PK but not an archive");
    const std::vector<uint8_t> archive =
        archive_fixture::build({{"ok.txt", "fine, and long enough to cut", true}});
    test_support::write_bytes(dir_ / "cut.zip", std::span(archive).first(archive.size() - 30));
    for (const char* name : {"text.zip", "cut.zip", "missing.zip"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(unpack(in_dir(name), in_dir("out")));
        EXPECT_FALSE(fs::exists(dir_ / "out"));
    }
}

}  // namespace
