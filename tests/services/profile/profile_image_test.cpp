// Profile files through the whole chain: a program image that reads and
// writes them with the kernel commands, in a folder and files with GBK
// names, run on Linux and, the same image, under wine64; the files' bytes
// afterwards are checked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/encoding.h"
#include "loader/package/writer.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_session.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_bytes;
using test_support::read_text;

const fs::path kNative = NATIVE_BUILD_DIR;
const fs::path kWinX64 = WIN_X64_DIR;

// The files in UTF-8 here, in GBK on disk.
const char* const kSettingsBefore =
    "[Main]\r\nTitle = \"我的服务器\" \r\n\r\n[版本]\r\n版本号=1.0\r\n";
const char* const kSettingsAfter =
    "[Main]\r\nTitle=新标题\r\n增加=是\r\n\r\n[版本]\r\n版本号=1.0\r\n[新节]\r\n键=值\r\n";
const char* const kNewFile = "[文件]\r\n文件名=a.exe\r\n";
// Read trimmed without quotes, read in another letter case, two missing
// reads, four writes that succeed and one with a line break refused, and
// the value written read back.
const char* const kReport = "unit-text 编辑框1 \"[我的服务器][1.0][][]11110[新标题]\"\n";

class ProfileChain : public ::testing::Test {
  protected:
    fs::path program(const fs::path& stub, const fs::path& kernel, const std::string& name) {
        const loader::RuntimeFile files[] = {{"krnln.fne", read_bytes(kernel)}};
        std::vector<uint8_t> package = loader::build_package(
            files, 0, "gs-profile-" + std::to_string(getpid()), 0x13572468, 6);
        fs::path path = scratch_ / name;
        test_support::write_bytes(
            path,
            test_support::make_program(
                read_bytes(stub), read_bytes(kNative / "images" / "profile_program-x86-64.img"),
                package),
            true);
        return path;
    }

    // The working folder with "配置/设置.ini" as the program finds it.
    fs::path prepare(const std::string& name) {
        const fs::path folder = scratch_ / name;
        fs::create_directories(folder / "配置");
        write_gbk(folder / "配置" / "设置.ini", kSettingsBefore);
        return folder;
    }

    void write_gbk(const fs::path& path, const char* utf8) {
        const std::string gbk = base::utf8_to_gbk(utf8).value();
        test_support::write_bytes(path, std::vector<uint8_t>(gbk.begin(), gbk.end()));
    }

    std::string utf8_of(const fs::path& path) {
        return base::gbk_to_utf8(read_text(path)).value_or("(not GBK)");
    }

    void expect_files(const fs::path& folder) {
        EXPECT_EQ(utf8_of(folder / "配置" / "设置.ini"), kSettingsAfter);
        EXPECT_EQ(utf8_of(folder / "配置" / "新的.ini"), kNewFile);
        EXPECT_FALSE(fs::exists(folder / "配置" / "没有.ini"));
        size_t count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder / "配置"))
            ++count;
        EXPECT_EQ(count, 2u);  // no temporary file stays behind
    }

    fs::path transcript() const { return scratch_ / "transcript"; }

    test_support::ScratchDir scratch_;
};

TEST_F(ProfileChain, ReadsAndWritesOnLinux) {
    const fs::path path =
        program(kNative / "loader" / "stub", kNative / "runtime" / "kernel" / "krnln.fne", "p");
    const fs::path folder = prepare("linux");
    fs::create_directories(scratch_ / "tmp");
    auto result = test_support::run(
        {path.string()},
        {"TMPDIR=" + (scratch_ / "tmp").string(), "WJRT_TRANSCRIPT=" + transcript().string()}, 60,
        folder);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(read_text(transcript()).find(kReport), std::string::npos) << read_text(transcript());
    expect_files(folder);
}

TEST_F(ProfileChain, SameImageUnderWine) {
    const fs::path stub = kWinX64 / "loader" / "stub.exe";
    const fs::path kernel = kWinX64 / "runtime" / "kernel" / "krnln.fne";
    if (!fs::exists(stub) || !fs::exists(kernel))
        GTEST_SKIP() << "the win-x64 build is not there: " << kWinX64;
    auto& wine = test_support::WineSession::ensure();
    if (wine.state() == test_support::WineSession::State::NotInstalled)
        GTEST_SKIP() << wine.message();
    ASSERT_EQ(wine.state(), test_support::WineSession::State::Running) << wine.message();
    const fs::path path = program(stub, kernel, "p.exe");
    const fs::path folder = prepare("wine");
    std::vector<std::string> environment = wine.environment();
    environment.push_back("WJRT_TRANSCRIPT=" + test_support::windows_path(transcript()));
    auto result = test_support::run({wine.wine(), path.string()}, environment, 120, folder);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(read_text(transcript()).find(kReport), std::string::npos) << read_text(transcript());
    expect_files(folder);
}

}  // namespace
