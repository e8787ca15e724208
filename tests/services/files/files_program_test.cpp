// Files, folders, processes and places through the whole chain: the probe
// program (files_probe.*) made of the real stub, kernel and eAPI library,
// run on Linux and, the same image, under wine64 (the Windows side of every
// service), each judged by its transcript.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "tests/services/files/kept_file.h"
#include "tests/support/scenario.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_text;

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

class FilesProgram : public test_support::ScenarioTest {
  protected:
    void SetUp() override {
        ScenarioTest::SetUp();
        fs::create_directories(scenario().folder() / "home");
    }

    // Runs the probe with the script, in the work folder.
    test_support::ScenarioResult run_probe(const std::string& script) {
        test_support::Scenario scenario{.script = script, .working_folder = work()};
        if (!windows())
            scenario.environment = {"HOME=" + (this->scenario().folder() / "home").string()};
        return run(program("files_probe", {"eAPI"}), scenario);
    }

    fs::path program_folder() { return program("files_probe", {"eAPI"}).parent_path(); }

    // The command the probe runs, which ends with code 7.
    std::string command() const {
        return windows() ? "cmd.exe /c exit 7" : "/bin/sh -c \"exit 7\"";
    }
};

TEST_P(FilesProgram, Services) {
    auto kept = make_fixture(work(), command());
    if (!kept->works())
        GTEST_SKIP() << "no way to make a file that stays";
    auto result = run_probe("");
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.transcript,
              // Wine shows the Unix link in the tree as a plain folder, which
              // resolves elsewhere: it is neither entered nor removed, so the
              // tree stays and the deletion says so.
              expected_transcript(windows() ? "0 1 1" : "1 0 1", quoted(command()),
                                  scenario().shown_path(work()),
                                  scenario().shown_path(program_folder())));
    EXPECT_EQ(read_text(work() / "outside" / "keep.txt"), "keep");
}

// What a program passes wrongly ends it with a message naming the command
// and the argument.
TEST_P(FilesProgram, BadArgumentsEndTheProgramWithAMessage) {
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
    for (const auto& [button, message] : cases) {
        SCOPED_TRACE(button);
        auto kept = make_fixture(work(), "");
        auto result = run_probe(std::string("click ") + button + "\n");
        EXPECT_EQ(result.exit_code, 0) << result.err;
        const std::string& text = result.transcript;
        EXPECT_NE(
            text.find("user-click " + std::string(button) +
                      "\nmsgbox title=\"Error\" icon=error buttons=ok text=\"" + message + "\"\n"),
            std::string::npos)
            << text;
        EXPECT_EQ(text.find("\nend "), std::string::npos) << "no regular end";
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, FilesProgram, test_support::both_systems(),
                         test_support::system_test_name);

}  // namespace
