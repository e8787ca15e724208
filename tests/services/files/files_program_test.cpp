// Files, folders, processes and places through the whole chain: the probe
// program (files_probe.*) made of the real stub, kernel and eAPI library,
// run on Linux and, the same image, under wine64 (the Windows side of every
// service), each judged by its transcript.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/services/files/kept_file.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_session.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_text;

const fs::path kNative = NATIVE_BUILD_DIR;
const fs::path kWinX64 = WIN_X64_DIR;

void write(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// The probe's fixture in `work` (see files_probe.cpp); the kept file stays
// kept while the object lives.
std::unique_ptr<files_test::KeptFile> make_fixture(const fs::path& work,
                                                   const std::string& command) {
    fs::remove_all(work);
    fs::create_directories(work / "tree" / "sub");
    fs::create_directories(work / "outside");
    fs::create_directories(work / "stuck");
    write(work / "tree" / "a.txt", "a");
    write(work / "tree" / "sub" / "b.txt", "b");
    write(work / "outside" / "keep.txt", "keep");
    fs::create_directory_symlink(work / "outside", work / "tree" / "sub" / "link");
    write(work / "stamp.txt", "stamp");
    const struct timespec times[2] = {{1614834367, 0}, {1614834367, 0}};
    utimensat(AT_FDCWD, (work / "stamp.txt").c_str(), times, 0);
    write(work / "lines.txt", "\xd2\xbb\r\n\xb6\xfe\n\r\n\xc8\xfd");  // 一 二 (empty) 三
    write(work / "command.txt", command);
    return std::make_unique<files_test::KeptFile>(work / "stuck" / "kept.txt");
}

// The transcript of the probe's creation; the command line and the folders
// as the transcript quotes them.
std::string expected_transcript(const std::string& deleted_tree, const std::string& command,
                                const std::string& work, const std::string& program_folder) {
    return "window-open 0x52010001 \"文件\"\n"
           "unit-text 标签_报告 \"删除目录 " +
           deleted_tree +
           "\"\n"
           "unit-text 标签_报告 \"删除失败 0 1\"\n"
           "unit-text 标签_报告 \"建目录 1 1 1 1\"\n"
           "unit-text 标签_报告 \"时间 2021-03-04 05:06:07 [] 5 -1\"\n"
           "unit-text 标签_报告 \"行 一|二||三 4 0 0\"\n"
           "unit-text 标签_报告 \"写读 1 写\\r\\n入 6 1 3 97 0 99 a 0\"\n"
           "unit-text 标签_报告 \"复制 1 写\\r\\n入 0 0 1 0\"\n"
           "run \"" +
           command +
           "\" wait=yes\n"
           "run \"" +
           work +
           "\\\\missing.exe\" wait=yes\n"
           "unit-text 标签_报告 \"运行 7 -1\"\n"
           "unit-text 标签_报告 \"位置 " +
           work + " " + program_folder +
           " 1\"\n"
           "open-address \"http://127.0.0.1/首页\"\n"
           "script-end open=0x52010001\n"
           "end 0\n";
}

// Backslashes and double quotes escaped, as the transcript quotes texts.
std::string quoted(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

class FilesProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(scratch_ / "tmp");
        fs::create_directories(scratch_ / "home");
    }

    fs::path work() const { return scratch_ / "work"; }
    fs::path transcript() const { return scratch_ / "transcript"; }
    fs::path script() const { return scratch_ / "script"; }

    // Runs the program of `build` (native or win-x64) with the script, in
    // the work folder; gives the exit code and standard error.
    test_support::RunResult run(const fs::path& build, const std::string& script_text) {
        const bool windows = build == kWinX64;
        const fs::path program = scratch_ / (windows ? "probe.exe" : "probe");
        if (!fs::exists(program))
            test_support::assemble_program(program, build,
                                           kNative / "images" / "files_probe-x86-64.img", {"eAPI"},
                                           "gs-files-" + std::to_string(getpid()));
        write(script(), script_text);
        fs::remove(transcript());
        if (!windows)
            return test_support::run(
                {program.string()},
                {"TMPDIR=" + (scratch_ / "tmp").string(), "HOME=" + (scratch_ / "home").string(),
                 "WJRT_SCRIPT=" + script().string(), "WJRT_TRANSCRIPT=" + transcript().string()},
                60, work());
        auto& wine = test_support::WineSession::ensure();
        std::vector<std::string> environment = wine.environment();
        environment.push_back("WJRT_SCRIPT=" + test_support::windows_path(script()));
        environment.push_back("WJRT_TRANSCRIPT=" + test_support::windows_path(transcript()));
        return test_support::run({wine.wine(), program.string()}, environment, 60, work());
    }

    bool wine_ready() {
        auto& wine = test_support::WineSession::ensure();
        if (wine.state() == test_support::WineSession::State::NotInstalled)
            return false;
        EXPECT_EQ(wine.state(), test_support::WineSession::State::Running) << wine.message();
        return wine.state() == test_support::WineSession::State::Running;
    }

    test_support::ScratchDir scratch_;
};

TEST_F(FilesProgram, ServicesOnLinux) {
    const std::string command = "/bin/sh -c \"exit 7\"";
    auto kept = make_fixture(work(), command);
    if (!kept->works())
        GTEST_SKIP() << "no way to make a file that stays";
    auto result = run(kNative, "");
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(read_text(transcript()),
              expected_transcript("1 0 1", quoted(command), quoted(work().string()),
                                  quoted(scratch_.path().string())));
    EXPECT_EQ(read_text(work() / "outside" / "keep.txt"), "keep");
}

TEST_F(FilesProgram, ServicesUnderWine) {
    if (!wine_ready())
        GTEST_SKIP() << "wine64 is not installed";
    const std::string command = "cmd.exe /c exit 7";
    auto kept = make_fixture(work(), command);
    if (!kept->works())
        GTEST_SKIP() << "no way to make a file that stays";
    auto result = run(kWinX64, "");
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(
        read_text(transcript()),
        // Wine shows the Unix link in the tree as a plain folder, which
        // resolves elsewhere: it is neither entered nor removed, so the
        // tree stays and the deletion says so.
        expected_transcript("0 1 1", quoted(command), quoted(test_support::windows_path(work())),
                            quoted(test_support::windows_path(scratch_.path()))));
    EXPECT_EQ(read_text(work() / "outside" / "keep.txt"), "keep");
}

// What a program passes wrongly ends it with a message naming the command
// and the argument, on both systems.
TEST_F(FilesProgram, BadArgumentsEndTheProgramWithAMessage) {
    const std::pair<const char*, const char*> cases[] = {
        {"按钮_错误类型", "Argument 1 of the kernel command 9 is not a text."},
        {"按钮_越界文本",
         "Argument 1 of the kernel command 11 is not a text that ends inside the program's "
         "memory."},
        {"按钮_无结尾文本",
         "Argument 1 of the kernel command 9 is not a text that ends inside the program's "
         "memory."},
        {"按钮_未开句柄", "The handle 4711 names no text file open for reading lines."},
        {"按钮_写入整数", "Argument 2 of the kernel command 16 is not a text or a byte array."},
        {"按钮_缺少参数", "The kernel command 13 takes 2 argument(s), not 1."},
    };
    std::vector<fs::path> builds = {kNative};
    if (wine_ready())
        builds.push_back(kWinX64);
    for (const fs::path& build : builds) {
        for (const auto& [button, message] : cases) {
            SCOPED_TRACE(build.string() + " " + button);
            auto kept = make_fixture(work(), "");
            auto result = run(build, std::string("click ") + button + "\n");
            EXPECT_EQ(result.exit_code, 0) << result.err;
            const std::string text = read_text(transcript());
            EXPECT_NE(text.find("user-click " + std::string(button) +
                                "\nmsgbox title=\"Error\" icon=error buttons=ok text=\"" + message +
                                "\"\n"),
                      std::string::npos)
                << text;
            EXPECT_EQ(text.find("\nend "), std::string::npos) << "no regular end";
        }
    }
}

}  // namespace
