// The package generator (build/linux-x64/packgen/packgen, and the win-x64
// program of the same image under wine64) driven by scripts:
// the folder choice, the analysis and the generation, judged by the files it
// writes (manifest bytes in GBK, archives and their single entries, the notes
// file, the version folders, the baseline beside the program) and by what it
// shows (status line, list rows, message boxes).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/encoding.h"
#include "tests/support/picture.h"
#include "tests/support/scenario.h"
#include "tests/support/wine_session.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_text;

using test_support::System;

const fs::path kNative = NATIVE_BUILD_DIR;

// Fixed last-write times of the release files.
constexpr time_t kFirstTime = 1700000000;   // 2023-11-14 22:13:20 UTC
constexpr time_t kSecondTime = 1700086400;  // a day later

const char* const kUpload = "上传到服务器的更新文件";

std::string gbk(const std::string& utf8) {
    return base::utf8_to_gbk(utf8).value();
}

fs::path u8path(const std::string& utf8) {
    return fs::path(reinterpret_cast<const char8_t*>(utf8.c_str()));
}

void write_file(const fs::path& path, const std::string& content, time_t time = kFirstTime) {
    fs::create_directories(path.parent_path());
    test_support::write_bytes(
        path, std::span(reinterpret_cast<const uint8_t*>(content.data()), content.size()));
    const struct timespec times[2] = {{time, 0}, {time, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The time stamp text of a file as the manifest holds it.
std::string time_text(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    struct tm parts {};
    gmtime_r(&info.st_mtime, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

time_t mtime_of(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mtime;
}

struct ZipEntry {
    std::string name;  // as stored (GBK)
    std::string content;
};

std::vector<ZipEntry> zip_entries(const fs::path& archive) {
    std::vector<ZipEntry> entries;
    unzFile zip = unzOpen64(archive.c_str());
    if (zip == nullptr) {
        ADD_FAILURE() << "not a ZIP archive: " << archive;
        return entries;
    }
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        char name[1024] = {};
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        ZipEntry entry{name, std::string(info.uncompressed_size, '\0')};
        EXPECT_EQ(unzOpenCurrentFile(zip), UNZ_OK);
        EXPECT_EQ(unzReadCurrentFile(zip, entry.content.data(),
                                     static_cast<unsigned>(entry.content.size())),
                  static_cast<int>(entry.content.size()));
        unzCloseCurrentFile(zip);
        entries.push_back(std::move(entry));
    }
    unzClose(zip);
    return entries;
}

// The names in a folder (UTF-8), sorted.
std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder))
        return names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(reinterpret_cast<const char*>(entry.path().filename().u8string().c_str()));
    std::sort(names.begin(), names.end());
    return names;
}

// One file section of an expected manifest (UTF-8; converted as a whole).
struct Section {
    std::string name;
    std::string path;  // relative, with backslashes
    fs::path file;     // the release file, for its time stamp
    bool packed;       // its archive is in the version folder
};

size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Whether `parts` occur in `text` in this order.
bool in_order(const std::string& text, const std::vector<std::string>& parts) {
    size_t at = 0;
    for (const std::string& part : parts) {
        at = text.find(part, at);
        if (at == std::string::npos)
            return false;
        at += part.size();
    }
    return true;
}

std::string status(const std::string& text) {
    return "unit-text 标签_状态栏 \"" + text + "\"\n";
}
std::string message(const std::string& text) {
    return "text=\"" + text + "\"";
}

using test_support::Picture;
using test_support::read_png;

// Text ink: dark on the light faces of the window.
bool ink(const Picture& p, int x, int y) {
    const uint8_t* c = p.pixel(x, y);
    return c[0] + c[1] + c[2] < 400;
}

// Where the main window's client area starts in its picture: found by the
// release folder box (client 104, 204; light grey from 2 pixels inside its
// edge), the only long light grey run of the window.
std::pair<int, int> main_client_origin(const Picture& p) {
    for (int y = 0; y < p.height; ++y) {
        int run = 0;
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* c = p.pixel(x, y);
            run = c[0] == 0xC0 && c[1] == 0xC0 && c[2] == 0xC0 ? run + 1 : 0;
            if (run == 200)
                return {x - 199 - 106, y - 206};
        }
    }
    return {-1, -1};
}

const char* const kDone = "更新文件生成完毕！";
const char* const kNothing = "抱歉！没有检测到需要更新的文件！";

using Outcome = test_support::ScenarioResult;

class Packgen : public test_support::ScenarioTest {
  protected:
    void SetUp() override {
        ScenarioTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        release_ = u8path((scenario().folder() / "发布").string());
        fs::create_directories(release_);
        place_program(scenario().folder() / "program");
    }

    // The generator in `folder`: its baseline copy goes beside it.
    void place_program(const fs::path& folder) {
        const fs::path built =
            windows() ? program("packgen", {"eCompress"}) : kNative / "packgen" / "packgen";
        program_ = folder / scenario().executable_name("packgen");
        fs::create_directories(folder);
        fs::copy_file(built, program_, fs::copy_options::overwrite_existing);
    }

    fs::path version_folder(const std::string& version) const {
        return release_ / u8path(kUpload) / u8path(version);
    }
    fs::path notes_file() const { return release_ / u8path("更新说明.TXT"); }

    Outcome run(const std::string& script) {
        Outcome outcome = ScenarioTest::run(program_, {.script = script});
        EXPECT_EQ(outcome.exit_code, 0) << outcome.err << outcome.transcript;
        return outcome;
    }

    // Choosing the release folder (the same folder again when asked), then
    // the version and notes, then Generate and the answers it needs.
    std::string choose(const fs::path& folder) const { return choose_text(host_path(folder)); }
    static std::string choose_text(const std::string& folder) {
        return "click 图形按钮_程序目录选择\nchoose-folder " + folder + "\n";
    }
    std::string generate_script(const std::string& version, const std::optional<std::string>& notes,
                                const std::string& answers = "answer ok\n") const {
        std::string script = choose(release_);
        if (notes)
            script += "type 编辑框_更新说明 \"" + *notes + "\"\n";
        script += "type 编辑框_本次版本号 \"" + version + "\"\nclick 图形按钮_生成更新文件\n";
        return script + answers + "close\n";
    }

    // A release tree: files in the root and two levels down, and files that
    // never belong in a manifest.
    void make_release() {
        write_file(release_ / "a.txt", "alpha");
        write_file(release_ / "Data" / "x.dll", std::string(3000, 'x') + "first");
        write_file(release_ / "Data" / "Maps" / "m.bin", std::string(100000, 'm'));
        write_file(release_ / "Data" / "up.dat", "[a]\r\nb=c\r\n");
        write_file(release_ / "update" / "u.txt", "work folder");
        write_file(release_ / "Data" / "update" / "v.txt", "work folder below");
    }

    // The manifest as it must be, byte for byte, with the archive sizes read
    // from the version folder.
    std::string expected_manifest(const std::vector<Section>& sections, const std::string& version,
                                  const fs::path& archives) const {
        std::string text;
        for (const Section& s : sections) {
            text += "[" + s.name + "]\r\n文件名=" + s.name + "\r\n文件路径=" + s.path +
                    "\r\n文件日期=" + time_text(s.file) + "\r\n";
            if (s.packed)
                text += "文件尺寸=" +
                        std::to_string(fs::file_size(archives / u8path(s.name + ".zip"))) + "\r\n";
        }
        return gbk(text + "[版本]\r\n版本号=" + version + "\r\n");
    }

    // Every packed file's archive holds exactly that file under its bare
    // name; the manifest archive holds the release folder's manifest.
    void expect_archives(const std::vector<Section>& sections, const std::string& version) {
        const fs::path folder = version_folder(version);
        std::vector<std::string> expected = {"up.dat.zip"};
        for (const Section& s : sections) {
            if (!s.packed)
                continue;
            expected.push_back(s.name + ".zip");
            const auto entries = zip_entries(folder / u8path(s.name + ".zip"));
            ASSERT_EQ(entries.size(), 1u) << s.name;
            EXPECT_EQ(entries[0].name, gbk(s.name));
            EXPECT_EQ(entries[0].content, read_text(s.file)) << s.name;
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names_in(folder), expected);
        const auto manifest = zip_entries(folder / "up.dat.zip");
        ASSERT_EQ(manifest.size(), 1u);
        EXPECT_EQ(manifest[0].name, "up.dat");
        EXPECT_EQ(manifest[0].content, read_text(release_ / "up.dat"));
    }

    std::vector<Section> release_sections(bool notes_packed, bool x_packed, bool others_packed) {
        std::vector<Section> sections = {{"a.txt", "\\a.txt", release_ / "a.txt", others_packed}};
        // The generator itself when it stands in the release folder.
        if (program_.parent_path() == release_)
            sections.push_back({program_.filename().string(), "\\" + program_.filename().string(),
                                program_, others_packed});
        sections.insert(sections.end(),
                        {{"更新说明.TXT", "\\更新说明.TXT", notes_file(), notes_packed},
                         {"x.dll", "\\Data\\x.dll", release_ / "Data" / "x.dll", x_packed},
                         {"m.bin", "\\Data\\Maps\\m.bin", release_ / "Data" / "Maps" / "m.bin",
                          others_packed}});
        return sections;
    }

    // The first release "1.0" of make_release(), checked.
    void first_release() {
        make_release();
        Outcome r = run(generate_script("1.0", std::nullopt));
        ASSERT_TRUE(r.transcript.find(message(kDone)) != std::string::npos) << r.transcript;
    }

    fs::path release_;
    fs::path program_;
};

TEST_P(Packgen, FirstReleaseListsAndPacksEveryFile) {
    make_release();
    const std::string script = choose(release_) +
                               "expect-text 编辑框_前次版本号 \"首次发行\"\n"
                               "expect-text 编辑框_更新说明 \"首次发行！\"\n"
                               "type 编辑框_本次版本号 \"1.0\"\n"
                               "click 图形按钮_生成更新文件\nanswer ok\nclose\n";
    Outcome r = run(script);
    EXPECT_TRUE(in_order(
        r.transcript,
        {status("  正在分析已发布版本信息......"), status("  正在分析需更新文件......"),
         "list-clear 列表框_更新文件列表\n", "list-insert 列表框_更新文件列表 0 \"a.txt\"\n",
         "list-insert 列表框_更新文件列表 1 \"x.dll\"\n",
         "list-insert 列表框_更新文件列表 2 \"m.bin\"\n", status("  找到 3 个文件需要更新！"),
         status("  正在创建更新文件夹......"), status("  正在保存更新说明......"),
         status("  正在生成更新文件......"), status("  更新文件生成完毕！"),
         "msgbox title=\"程序更新文件生成器 1.0\" icon=information buttons=ok " + message(kDone)}))
        << r.transcript;

    // The notes as typed, without a line end; packed like any release file.
    EXPECT_EQ(read_text(notes_file()), gbk("首次发行！"));
    const auto sections = release_sections(true, true, true);
    EXPECT_EQ(read_text(release_ / "up.dat"),
              expected_manifest(sections, "1.0", version_folder("1.0")));
    expect_archives(sections, "1.0");
    EXPECT_EQ(names_in(release_ / u8path(kUpload)), std::vector<std::string>{"1.0"});
    // No manifest was found, so no baseline was recorded.
    EXPECT_FALSE(fs::exists(program_.parent_path() / "up.dat"));
}

// A second release after one file changed. The notes box shows the notes of
// the first; written again, the notes file is packed too although the list
// did not show it (it changed after the analysis). The generator may also
// stand in the release folder itself, where baseline and manifest are one
// file.
TEST_P(Packgen, SecondReleasePacksWhatChangedSinceTheFirst) {
    struct Case {
        const char* what;
        std::optional<std::string> notes;  // typed into the notes box, or kept
        bool program_in_release;
    };
    const Case cases[] = {
        {"notes emptied", std::string(), false},
        {"notes kept", std::nullopt, false},
        {"generator inside the release folder", std::string(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(release_);
        if (c.program_in_release)
            place_program(release_);
        first_release();
        const std::string first_manifest = read_text(release_ / "up.dat");
        const std::string notes_before = time_text(notes_file());
        // Notes written again must get another time stamp text than the
        // first release gave them: the text counts whole seconds.
        while (time(nullptr) <= mtime_of(notes_file()))
            usleep(50 * 1000);
        write_file(release_ / "Data" / "x.dll", std::string(3000, 'x') + "second", kSecondTime);

        std::string script = choose(release_) +
                             "expect-text 编辑框_前次版本号 \"1.0\"\n"
                             "expect-text 编辑框_更新说明 \"首次发行！\"\n";
        script += generate_script("1.1", c.notes).substr(choose(release_).size());
        Outcome r = run(script);
        EXPECT_TRUE(in_order(r.transcript, {"list-insert 列表框_更新文件列表 0 \"x.dll\"\n",
                                            status("  找到 1 个文件需要更新！"), message(kDone)}))
            << r.transcript;
        EXPECT_EQ(count_of(r.transcript, "list-insert"), 1u) << r.transcript;

        const bool notes_packed = c.notes.has_value() ? !c.notes->empty() : true;
        if (!notes_packed) {
            EXPECT_EQ(time_text(notes_file()), notes_before);
        }
        const auto sections = release_sections(notes_packed, true, false);
        EXPECT_EQ(read_text(release_ / "up.dat"),
                  expected_manifest(sections, "1.1", version_folder("1.1")));
        expect_archives(sections, "1.1");
        // The baseline beside the generator is the first release's manifest
        // (inside the release folder it is the new manifest itself).
        EXPECT_EQ(read_text(program_.parent_path() / "up.dat"),
                  c.program_in_release ? read_text(release_ / "up.dat") : first_manifest);
        EXPECT_EQ(names_in(release_ / u8path(kUpload)), (std::vector<std::string>{"1.0", "1.1"}));
    }
}

// Folders named "update" anywhere in the path, the release folder itself
// included, hold nothing to publish; a folder inside the upload folder is not
// analysed at all, nor a drive or file system root, nor a cancelled choice:
// each leaves an empty list, so Generate finds nothing.
TEST_P(Packgen, FoldersThatHoldNothingToPublish) {
    make_release();
    write_file(scenario().folder() / "update" / "a.txt", "inside a release folder named update");
    write_file(version_folder("0.9") / "old.zip", "an earlier upload");
    struct Case {
        const char* what;
        std::string step;
        bool analysed;
    };
    const Case cases[] = {
        {"release folder named update",
         "choose-folder " + (scenario().folder() / "update").string(), true},
        {"inside the upload folder", "choose-folder " + version_folder("0.9").string(), false},
        {"file system root", "choose-folder /", false},
        {"cancelled", "cancel-folder", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A good analysis first fills the list.
        const std::string script = choose(release_) + "click 图形按钮_程序目录选择\n" + c.step +
                                   "\ntype 编辑框_本次版本号 \"2.0\"\n"
                                   "click 图形按钮_生成更新文件\nanswer ok\nclose\n";
        Outcome r = run(script);
        EXPECT_EQ(count_of(r.transcript, "正在分析需更新文件"), c.analysed ? 2u : 1u)
            << r.transcript;
        EXPECT_TRUE(in_order(
            r.transcript, {status("  找到 3 个文件需要更新！"), "list-clear 列表框_更新文件列表\n",
                           "icon=information buttons=ok " + message(kNothing)}))
            << r.transcript;
        EXPECT_EQ(count_of(r.transcript, "list-insert"), 3u) << r.transcript;
        EXPECT_FALSE(fs::exists(release_ / "up.dat"));
        EXPECT_FALSE(fs::exists(version_folder("2.0")));
    }
}

// Choosing the folder that the box already shows analyses it again.
TEST_P(Packgen, TheSameFolderChosenAgainIsAnalysedAgain) {
    make_release();
    Outcome r = run(choose(release_) + choose(release_) + "close\n");
    EXPECT_EQ(count_of(r.transcript, status("  找到 3 个文件需要更新！")), 2u) << r.transcript;
    EXPECT_EQ(count_of(r.transcript, "list-insert"), 6u) << r.transcript;
}

// Archives of one name overwrite each other in the version folder, and on
// the server's and the players' file systems, which ignore letter case,
// names that differ only in case are one name too; the manifest archive
// "up.dat.zip" takes the manifest's own name. The message names the file
// met second (a folder's own files come before its subfolders).
TEST_P(Packgen, DuplicateNamesAreRefused) {
    struct Case {
        const char* what;
        std::vector<std::string> files;  // relative to the release folder
        const char* listed;
        const char* name;  // in the message
    };
    const Case cases[] = {
        {"one name twice", {"a/readme.txt", "b/readme.txt", "c.txt"}, "3", "readme.txt"},
        {"names that differ in case", {"Same.txt", "B/same.txt", "c.txt"}, "3", "same.txt"},
        {"the manifest's name in a subfolder", {"c.txt", "Data/Up.dat"}, "2", "Up.dat"},
        {"the manifest's name alone", {"Data/UP.DAT"}, "1", "UP.DAT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(release_);
        for (const std::string& file : c.files)
            write_file(release_ / file, file);
        Outcome r = run(
            choose(release_) +
            "answer ok\ntype 编辑框_本次版本号 \"1.0\"\nclick 图形按钮_生成更新文件\nanswer ok\n"
            "close\n");
        EXPECT_TRUE(in_order(
            r.transcript,
            {status(std::string("  找到 ") + c.listed + " 个文件需要更新！"),
             "icon=information buttons=ok " + message(std::string("发现重名文件：") + c.name),
             "list-clear 列表框_更新文件列表\n", message(kNothing)}))
            << r.transcript;
        EXPECT_FALSE(fs::exists(release_ / u8path(kUpload)));
        EXPECT_FALSE(fs::exists(release_ / "up.dat"));
    }
}

// Names that meet only in the generation: the notes file written in the
// release folder's root has the name of a file in a subfolder. The second
// archive would overwrite the first, so the generation stops and the
// manifest is not written.
// The names may differ in letter case, as above.
TEST_P(Packgen, DuplicateNamesMetDuringTheGenerationStopIt) {
    for (const char* name : {"更新说明.TXT", "更新说明.txt"}) {
        SCOPED_TRACE(name);
        fs::remove_all(release_);
        write_file(release_ / "Docs" / u8path(name), "notes of a component");
        Outcome r = run(generate_script("1.0", std::nullopt));
        EXPECT_TRUE(in_order(
            r.transcript,
            {status("  找到 1 个文件需要更新！"), status("  更新文件生成失败！"),
             "icon=information buttons=ok " + message(std::string("发现重名文件：") + name)}))
            << r.transcript;
        EXPECT_EQ(r.transcript.find(message(kDone)), std::string::npos) << r.transcript;
        EXPECT_FALSE(fs::exists(release_ / "up.dat"));
        EXPECT_EQ(names_in(version_folder("1.0")), std::vector<std::string>{"更新说明.TXT.zip"});
        EXPECT_EQ(zip_entries(version_folder("1.0") / u8path("更新说明.TXT.zip")).at(0).content,
                  gbk("首次发行！"));
    }
}

// A version that was generated before: Cancel leaves everything as it was,
// OK replaces the version folder as a whole.
TEST_P(Packgen, AnExistingVersionFolderIsReplacedOnlyWhenConfirmed) {
    first_release();
    const std::string manifest = read_text(release_ / "up.dat");
    const auto archives = names_in(version_folder("1.0"));
    write_file(release_ / "Data" / "x.dll", "changed", kSecondTime);
    const std::string question =
        "icon=none buttons=okcancel " +
        message("发现此版本号已经生成过升级文件，\\r\\n请问是否需要替换上次生成的文件。");

    Outcome r = run(generate_script("1.0", std::string(), "answer cancel\n"));
    EXPECT_TRUE(r.transcript.find(question + " answer=cancel") != std::string::npos)
        << r.transcript;
    EXPECT_EQ(read_text(release_ / "up.dat"), manifest);
    EXPECT_EQ(names_in(version_folder("1.0")), archives);

    r = run(generate_script("1.0", std::string(), "answer ok\nanswer ok\n"));
    EXPECT_TRUE(in_order(r.transcript, {question + " answer=ok", message(kDone)})) << r.transcript;
    const auto sections = release_sections(false, true, false);
    EXPECT_EQ(read_text(release_ / "up.dat"),
              expected_manifest(sections, "1.0", version_folder("1.0")));
    expect_archives(sections, "1.0");
}

// A file that cannot be packed (here one whose archive name would be longer
// than a file name can be): the generation says so instead of reporting
// success, and the release folder's manifest stays as the last good
// generation left it.
TEST_P(Packgen, AFailedArchiveLeavesThePreviousManifest) {
    first_release();
    const std::string manifest = read_text(release_ / "up.dat");
    const std::string name = std::string(249, 'n') + ".bin";  // 253 bytes, + ".zip" is 257
    write_file(release_ / "Data" / name, "cannot be packed");
    Outcome r = run(generate_script("1.1", std::string()));
    EXPECT_TRUE(in_order(
        r.transcript,
        {"list-insert 列表框_更新文件列表 0 \"" + name + "\"\n", status("  更新文件生成失败！"),
         "icon=error buttons=ok text=\"更新文件生成失败，无法写入文件："}))
        << r.transcript;
    EXPECT_EQ(r.transcript.find(message(kDone)), std::string::npos) << r.transcript;
    EXPECT_EQ(read_text(release_ / "up.dat"), manifest);
}

// What Generate refuses before it touches a file: no version, and a version
// that is no bare folder name (it would name a folder outside the upload
// folder, which Generate deletes and rewrites).
TEST_P(Packgen, VersionTextsThatCannotNameAVersionFolder) {
    make_release();
    struct Case {
        const char* version;
        const char* message;
    };
    const Case cases[] = {
        {"", "请输入本次版本号！"},
        {"..\\\\..\\\\x", "本次版本号不能用作文件夹名称，请重新输入！"},
        {"..", "本次版本号不能用作文件夹名称，请重新输入！"},
        {"1/2", "本次版本号不能用作文件夹名称，请重新输入！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        Outcome r = run(generate_script(c.version, std::nullopt));
        EXPECT_TRUE(r.transcript.find("icon=information buttons=ok " + message(c.message)) !=
                    std::string::npos)
            << r.transcript;
        EXPECT_FALSE(fs::exists(release_ / u8path(kUpload)));
        EXPECT_FALSE(fs::exists(release_ / "up.dat"));
    }
}

// The first release made by the win-x64 program under wine64 on real
// windows: the transcript of the headless Linux run (folder paths aside) and
// the same files. On the way it takes the pictures of the main window after
// the generation and of the usage window.
using PackgenOnRealWindows = Packgen;

TEST_P(PackgenOnRealWindows, FirstReleaseLeavesTheHeadlessTranscript) {
    const std::string steps =
        "type 编辑框_本次版本号 \"1.0\"\nclick 图形按钮_生成更新文件\nanswer ok\n"
        "capture \"packgen-main.png\"\nclick 图形按钮_帮助\nexpect-window 52010002\n"
        "capture \"packgen-help.png\"\nclose\nexpect-window 52010001\nclose\n";

    // What the headless Linux run writes and shows.
    test_support::ScenarioRun headless_run(System::linux_x64);
    const fs::path linux_program = headless_run.folder() / "packgen";
    fs::copy_file(kNative / "packgen" / "packgen", linux_program);
    make_release();
    const Outcome reference =
        headless_run.run(linux_program, {.script = choose_text(release_.string()) + steps});
    EXPECT_EQ(reference.exit_code, 0) << reference.err;
    const std::string& headless = reference.transcript;
    ASSERT_TRUE(headless.find(message(kDone)) != std::string::npos) << headless;
    const auto sections = release_sections(true, true, true);

    fs::remove_all(release_);
    make_release();
    const Outcome r = run(choose(release_) + steps);
    const std::string shown = scenario().shown_path(release_);
    std::string real = r.transcript;
    for (size_t at = real.find(shown); at != std::string::npos;
         at = real.find(shown, at + release_.string().size()))
        real.replace(at, shown.size(), release_.string());
    EXPECT_EQ(real, headless);

    EXPECT_EQ(read_text(notes_file()), gbk("首次发行！"));
    EXPECT_EQ(read_text(release_ / "up.dat"),
              expected_manifest(sections, "1.0", version_folder("1.0")));
    expect_archives(sections, "1.0");
    const fs::path pictures = scenario().pictures();
    EXPECT_EQ(names_in(pictures),
              (std::vector<std::string>{"packgen-help.png", "packgen-main.png"}));
    // The windows at their outer sizes.
    const Picture help = read_png(pictures / "packgen-help.png");
    EXPECT_EQ(std::make_pair(help.width, help.height), std::make_pair(498, 345));
    const Picture main = read_png(pictures / "packgen-main.png");
    ASSERT_EQ(std::make_pair(main.width, main.height), std::make_pair(418, 315));
    const auto [left, top] = main_client_origin(main);
    ASSERT_GE(left, 0);
    // The labels before the boxes are wider in text than in room: each
    // keeps its one line, shown up to its right edge, and starts no second
    // line that its height would cut.
    struct Label {
        const char* name;
        int x, y, width;  // in the client area
    };
    for (const Label& label :
         {Label{"标签3", 12, 204, 92}, Label{"标签1", 13, 230, 69}, Label{"标签2", 148, 230, 69}}) {
        SCOPED_TRACE(label.name);
        bool at_right_edge = false, below_first_line = false;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < label.width; ++x) {
                if (!ink(main, left + label.x + x, top + label.y + y))
                    continue;
                at_right_edge |= y < 13 && x >= label.width - 10;
                below_first_line |= y >= 13;
            }
        }
        EXPECT_TRUE(at_right_edge);
        EXPECT_FALSE(below_first_line);
    }
    // The version boxes: green text on light grey, red text on white, both
    // centred (as much room to the left of the text as to its right).
    struct Box {
        const char* name;
        int x, y;  // inside the edge, in the client area
        uint8_t back;
        int text;  // the strong channel of the text colour
    };
    for (const Box& box : {Box{"编辑框_前次版本号", 84, 232, 0xC0, 1},
                           Box{"编辑框_本次版本号", 219, 232, 0xFF, 0}}) {
        SCOPED_TRACE(box.name);
        EXPECT_EQ(main.pixel(left + box.x, top + box.y)[0], box.back);
        constexpr int kInside = 56;
        int first = kInside, last = -1;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < kInside; ++x) {
                const uint8_t* c = main.pixel(left + box.x + x, top + box.y + y);
                if (c[box.text] > c[(box.text + 1) % 3] + 60 &&
                    c[box.text] > c[(box.text + 2) % 3] + 60) {
                    first = std::min(first, x);
                    last = std::max(last, x);
                }
            }
        }
        ASSERT_GE(last, 0);
        EXPECT_LE(std::abs(first - (kInside - 1 - last)), 3) << first << " " << last;
    }
}

TEST_P(Packgen, HelpWindowShowsTheUsageText) {
    const std::string help =
        "    一直想写个方便点的升级程序，这个星期总算有时间弄了，放出来给大家试试。\\r\\n"
        "\\r\\n"
        "    使用步骤：\\r\\n"
        "              1、首先创建一个文件夹，把你要发布的程序文件按原有根目录下\\r\\n"
        "                 的目录结构复制到新建的文件夹。（注意：不包括数据库文件等\\r\\n"
        "                 用户保存信息的文件）\\r\\n"
        "              \\r\\n"
        "              2、打开生成器，选择刚才创建的那个文件夹，输入版本和更新说\\r\\n"
        "                 明，然后点击“生成更新”。关闭生成器。\\r\\n"
        "              \\r\\n"
        "              3、访问刚才创建的文件夹，打开里面的“上传到服务器的更新文\\r\\n"
        "                 件”可以看到和你刚才生成的版本号一样的一个文件夹，将这个\\r\\n"
        "                 文件夹里的文件全部复制到你的更新服务器上。\\r\\n"
        "\\r\\n"
        "    如果你是首次发行软件，最好把“生成更新”后，创建的文件夹下的“up.dat”\\r\\n"
        "一起发行。\\r\\n"
        "\\r\\n"
        "        注意：\\r\\n"
        "              1、生成更新文件是根据文件创建时间来判断的。\\r\\n"
        "              \\r\\n"
        "              2、更新程序必须在你软件的根目录下。\\r\\n"
        "\\r\\n"
        "              3、根目录下不能有“update”文件夹。 这个文件夹升级时会被删\\r\\n"
        "                 除。  ";
    Outcome r =
        run("expect-text 标签_状态栏 \"  请选择需要生成更新文件的程序文件夹！\"\n"
            "click 图形按钮_帮助\nexpect-window 52010002\nexpect-text 编辑框1 \"" +
            help + "\"\nclose\nexpect-window 52010001\nclose\n");
    EXPECT_TRUE(in_order(r.transcript, {"window-open 0x52010001 \"程序更新文件生成器 1.0\"\n",
                                        "window-open 0x52010002 \"使用说明\"\n",
                                        "window-close 0x52010002 \"使用说明\"\n", "end 0\n"}))
        << r.transcript;
}

// Without windows on Linux and under wine64; on real windows the first
// release (above).
INSTANTIATE_TEST_SUITE_P(Systems, Packgen, test_support::both_systems(),
                         test_support::system_test_name);

INSTANTIATE_TEST_SUITE_P(Systems, PackgenOnRealWindows, ::testing::Values(System::win_x64_windows),
                         test_support::system_test_name);

std::string hex_of(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text)
        out += std::string{digits[c >> 4], digits[c & 15]};
    return out;
}

// Closing the main window during a long walk ends the walk and the
// program: nothing after the walk is shown, a generation packs no more files
// and writes no manifest. A script's steps are taken only when the program
// is idle, back in its event loop, never at the walker's serving of events,
// so the window is closed by a person's means from another process once the
// status line tells that the walk runs (the runtime's headless backend has
// nothing pending there: a real-windows case only).
TEST_P(PackgenOnRealWindows, ClosingTheWindowEndsALongWalk) {
    auto& wine = test_support::WineSession::ensure();
    const fs::path driver = fs::path(WIN_X64_DIR) / "tests" / "browse_driver.exe";
    if (!fs::exists(driver))
        GTEST_SKIP() << "the win-x64 target is not built: no " << driver;
    constexpr size_t kFolders = 3000;
    for (size_t i = 0; i < kFolders; ++i)
        write_file(release_ / ("d" + std::to_string(i)) / ("f" + std::to_string(i) + ".txt"), "");
    struct Case {
        const char* what;
        std::string script;  // ends without a close: the driver closes the window
        const char* status;  // shown while the walk runs
        std::string when;    // the driver's trigger: a first row, an archive
    };
    const Case cases[] = {
        {"analysis", choose(release_), "  正在分析需更新文件......", "rows " + hex_of("1002")},
        // The root's files come first: the notes are packed before any
        // subfolder is walked.
        {"generation",
         choose(release_) + "type 编辑框_本次版本号 \"1.0\"\nclick 图形按钮_生成更新文件\n",
         "  正在生成更新文件......",
         "file " +
             hex_of(scenario().host_path(version_folder("1.0") / u8path("更新说明.TXT.zip")))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(release_ / u8path(kUpload));
        const int person = test_support::start(
            {wine.wine(), driver.string(), "close-at", hex_of("程序更新文件生成器 1.0"), "1008",
             hex_of(scenario().host_path(release_)), c.when.substr(0, 4), c.when.substr(5)},
            wine.environment());
        const Outcome r = run(c.script);
        EXPECT_EQ(test_support::wait_for(person, 60), 0);
        EXPECT_TRUE(
            in_order(r.transcript, {status(c.status), "window-close 0x52010001 ", "end 0\n"}))
            << r.transcript;
        // What follows a walk that ran to its end.
        for (const char* after :
             {"script-end", "个文件需要更新", "更新文件生成完毕", "更新文件生成失败"})
            EXPECT_EQ(r.transcript.find(after, r.transcript.find(status(c.status))),
                      std::string::npos)
                << after << "\n"
                << r.transcript;
        EXPECT_FALSE(fs::exists(release_ / "up.dat"));
        // The archives packed before the window closed.
        EXPECT_LT(names_in(version_folder("1.0")).size(), kFolders);
        EXPECT_FALSE(fs::exists(version_folder("1.0") / "up.dat.zip"));
    }
}

// A person's keys from another process: the list box has the focus when the
// window opens, Tab goes on in the order of the window's units (the notes,
// the read-only folder box, the folder button), the modal usage window has
// no minimise button and gives its edit box the focus, and once it is
// closed the main window's focus is where it was.
TEST_P(PackgenOnRealWindows, TabOrderFocusAndTheModalWindowsButtons) {
    auto& wine = test_support::WineSession::ensure();
    const fs::path driver = fs::path(WIN_X64_DIR) / "tests" / "browse_driver.exe";
    if (!fs::exists(driver))
        GTEST_SKIP() << "the win-x64 target is not built: no " << driver;
    const fs::path seen = scenario().folder() / "keys.out";
    const int person =
        test_support::start({"/bin/sh", "-c", "exec \"$0\" \"$@\" > \"$OUT\"", wine.wine(),
                             driver.string(), "keys", hex_of("程序更新文件生成器 1.0"),
                             hex_of(host_path(program_)), "3", "1015", hex_of("使用说明")},
                            [&] {
                                auto environment = wine.environment();
                                environment.push_back("OUT=" + seen.string());
                                return environment;
                            }());
    // Without automation (no script, no transcript) the program serves the
    // system's messages, keys included, as for a person at the screen.
    std::vector<std::string> environment;
    for (const std::string& entry : wine.environment())
        if (!entry.starts_with("WJRT_"))
            environment.push_back(entry);
    environment.push_back("WJRT_UI=win32");
    const auto r = test_support::run({wine.wine(), program_.string()}, environment, 120);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(test_support::wait_for(person, 60), 0);
    EXPECT_EQ(read_text(seen),
              "focus 1002\ntab 1004\ntab 1008\ntab 1009\nminimise 1 modal 0\n"
              "modal-focus 1001\nfocus-again 1009\n");
}

// The system's own folder dialog on a Western Windows (ANSI code page 1252),
// driven by a person's means from another process: its title as the program
// wrote it, and a folder with a Chinese name arriving whole in the box. The
// shell's ANSI functions would show the title as mojibake and give no path
// for the folder at all.
TEST(PackgenOnAWesternWindows, FolderDialogKeepsChineseTexts) {
    const fs::path kWinX64 = WIN_X64_DIR;
    if (kWinX64.empty())
        GTEST_SKIP() << "no win-x64 build";
    auto& wine = test_support::WineSession::ensure();
    if (wine.state() == test_support::WineSession::State::NotInstalled)
        GTEST_SKIP() << wine.message();
    const fs::path driver = kWinX64 / "tests" / "browse_driver.exe";
    for (const fs::path& part : {kWinX64 / "loader" / "stub.exe", driver}) {
        if (!fs::exists(part))
            GTEST_SKIP() << "the win-x64 target is not built: no " << part;
    }
    ASSERT_EQ(wine.state(), test_support::WineSession::State::Running) << wine.message();
    // Neither script nor transcript: the person at the screen acts.
    std::vector<std::string> environment;
    for (const std::string& entry : wine.environment()) {
        if (!entry.starts_with("WJRT_"))
            environment.push_back(entry);
    }
    environment.insert(environment.end(), {"WJRT_UI=win32", "LANG=C.UTF-8", "LC_ALL=C.UTF-8"});
    auto probe = test_support::run({wine.wine(), driver.string(), "acp"}, environment);
    ASSERT_EQ(probe.out, "1252\n") << probe.err;

    // At the top of the prefix's drive C:, where wine's dialog finds a
    // folder by its path every time (deeper down, not always).
    fs::path drive_c = wine.temp_dir();
    while (!drive_c.empty() && drive_c.filename() != "drive_c" && drive_c != drive_c.parent_path())
        drive_c = drive_c.parent_path();
    ASSERT_EQ(drive_c.filename(), "drive_c") << wine.temp_dir();
    const std::string name = "发布-" + std::to_string(getpid());
    const fs::path top = drive_c / u8path(name);
    fs::remove_all(top);
    write_file(top / "a.txt", "a");
    const std::string folder = "C:\\" + name;

    test_support::ScratchDir scratch;
    const fs::path packgen = scratch.path() / "packgen.exe";
    test_support::assemble_program(packgen, kWinX64, kNative / "images" / "packgen-x86-64.img",
                                   {"eCompress"}, "packgen-wine-" + std::to_string(getpid()));
    const int program = test_support::start({wine.wine(), packgen.string()}, environment);
    // The main window's folder button (unit 9) and folder box (unit 8).
    auto person =
        test_support::run({wine.wine(), driver.string(), "choose", hex_of("程序更新文件生成器 1.0"),
                           "1009", "1008", hex_of("请选择发布程序所在文件夹！"), hex_of(folder)},
                          environment, 90);
    const int program_exit = test_support::wait_for(program, 60);
    fs::remove_all(top);
    EXPECT_EQ(person.exit_code, 0) << person.out << person.err;
    EXPECT_NE(person.out.find("dialog Static \"请选择发布程序所在文件夹！\"\n"), std::string::npos)
        << person.out;
    EXPECT_NE(person.out.find("box \"" + folder + "\"\n"), std::string::npos) << person.out;
    EXPECT_EQ(program_exit, 0);
}

}  // namespace
