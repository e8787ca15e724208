// A listed file held open by another running program while the updater
// replaces it. On Windows a program that opened its data file for reading,
// sharing reading and writing only, keeps it from being renamed or replaced:
// the update stops and everything it replaced goes back. One that shares
// deleting too (as the system loads a module) lets the file be renamed:
// the held file is moved aside and the new one takes its name. On Linux an
// open file never stands in the way.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/picture.h"
#include "tests/support/scenario.h"
#include "tests/updater/update_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace update_test;
using test_support::ScenarioResult;
using test_support::ScenarioRun;
using test_support::System;

constexpr char kHeldMessage[] =
    "unit-text 编辑框_出错提示 \"    替换文件 'x.dll' 时出错，可能文件正在使用中，请检查！\"";

// Another program of the system holding one file open until it is ended:
// the tests' file_holder.exe on Windows, a shell with the file open on Linux.
class Holder {
  public:
    // `sharing` is the holder's mode: "read-write" or "delete".
    Holder(ScenarioRun& run, const fs::path& file, const std::string& sharing)
        : ready_(run.folder() / ("held-" + sharing + ".ready")),
          stop_(run.folder() / ("held-" + sharing + ".stop")) {
        fs::remove(ready_);
        fs::remove(stop_);
        std::vector<std::string> argv;
        if (run.windows()) {
#ifdef FILE_HOLDER_EXE
            argv = run.command(FILE_HOLDER_EXE);
#endif
            for (const fs::path& p : {file, ready_, stop_})
                argv.push_back(run.host_path(p));
            argv.insert(argv.end() - 3, sharing);
        } else {
            argv = {"/bin/sh",
                    "-c",
                    "exec 3<\"$1\" || exit 2; : >\"$2\"; "
                    "while [ ! -e \"$3\" ]; do sleep 0.1; done",
                    "holder",
                    file.string(),
                    ready_.string(),
                    stop_.string()};
        }
        pid_ = test_support::start(argv, run.environment());
        // A safety net for a holder that cannot start, not a measure.
        for (int i = 0; i < 600 && pid_ > 0 && !fs::exists(ready_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~Holder() {
        end();
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    bool holds() const {
        return pid_ > 0 && fs::exists(ready_);
    }

    // Tells the holder to let go and waits until it has; its exit code.
    int end() {
        if (pid_ <= 0)
            return exit_code_;
        write_all(stop_, "");
        exit_code_ = test_support::wait_for(pid_, 60);
        pid_ = -1;
        return exit_code_;
    }

  private:
    fs::path ready_;
    fs::path stop_;
    int pid_ = -1;
    int exit_code_ = -1;
};

class UpdateWhileHeld : public Update {
  protected:
    void SetUp() override {
        Update::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
#ifndef FILE_HOLDER_EXE
        if (windows())
            GTEST_SKIP() << "no mingw-w64 compiler for the file holder";
#endif
    }

    // The installed release, then one that changes every file and adds one
    // in a new folder listed before the held "Data\x.dll", so that the held
    // file comes after a replaced file and a made folder.
    std::vector<ReleaseFile> second_release() {
        std::vector<ReleaseFile> files = release_one();
        install(files);
        for (ReleaseFile& f : files) {
            f.content += " 2";
            f.time = kNew;
        }
        files.insert(files.begin() + 1, {"new.txt", "\\New\\new.txt", "new", kNew});
        return files;
    }

    void installed_as_released(const std::vector<ReleaseFile>& files, const std::string& manifest) {
        for (const ReleaseFile& f : files)
            EXPECT_EQ(read_all(installed_path(install_, f)), f.content) << f.name;
        EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
        EXPECT_FALSE(fs::exists(install_ / "update"));
    }
};

// Held without delete sharing, as a running game holds its data files:
// neither the rename over it nor the rename of it is allowed.
TEST_P(UpdateWhileHeld, AFileHeldWithoutDeleteSharingStopsTheUpdateAndPutsAllBack) {
    if (!windows())
        GTEST_SKIP() << "an open file keeps no Linux program from replacing it";
    const std::vector<ReleaseFile> files = second_release();
    const std::string old_x = read_all(install_ / "Data" / "x.dll");
    const auto before = snapshot(install_);
    const std::string manifest = publish_all(server_ / "updates", files, "2.0");
    {
        Holder holder(scenario(), install_ / "Data" / "x.dll", "read-write");
        ASSERT_TRUE(holder.holds());
        ScenarioResult r = run(script(2));
        EXPECT_TRUE(r.contains(kHeldMessage)) << r.transcript;
        EXPECT_FALSE(r.contains(kCompleted)) << r.transcript;
        // a.txt back, New gone, no aside or temporary left, "up.dat" as it was.
        EXPECT_EQ(snapshot(install_), before);
        EXPECT_EQ(holder.end(), 0);
    }
    EXPECT_EQ(read_all(install_ / "Data" / "x.dll"), old_x);

    // Once the game has ended, the same update installs.
    ScenarioResult r = run(script(2));
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    installed_as_released(files, manifest);
    EXPECT_FALSE(fs::exists(install_ / "Data" / "x.dll.update-old"));
}

// Held with delete sharing: the held file may be renamed, so it is moved
// aside and the new one copied to its name; what stays of the aside is
// removed at a later start, once free.
TEST_P(UpdateWhileHeld, AFileHeldWithDeleteSharingIsMovedAsideAndRemovedLater) {
    const std::vector<ReleaseFile> files = second_release();
    const std::string old_x = read_all(install_ / "Data" / "x.dll");
    const std::string manifest = publish_all(server_ / "updates", files, "2.0");
    const fs::path aside = install_ / "Data" / "x.dll.update-old";
    {
        Holder holder(scenario(), install_ / "Data" / "x.dll", "delete");
        ASSERT_TRUE(holder.holds());
        ScenarioResult r = run(script(2));
        EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
        installed_as_released(files, manifest);
        // Its removal may wait for the holder; until then it keeps the old content.
        if (fs::exists(aside)) {
            EXPECT_EQ(read_all(aside), old_x);
        }
        EXPECT_EQ(holder.end(), 0);
    }

    // The next start, with nothing to update, leaves no aside.
    write_all(install_ / "ver.ini", "2.0");
    ScenarioResult r = run("click 自动更新1\n");
    EXPECT_TRUE(r.contains("unit-enabled 自动更新 0")) << r.transcript;
    EXPECT_FALSE(fs::exists(aside));
    installed_as_released(files, manifest);
}

// The error panel of a held file on real windows, as a player sees it;
// UPDATE_PICTURES names a folder to keep the picture in.
class UpdateWhileHeldOnRealWindows : public UpdateWhileHeld {};

TEST_P(UpdateWhileHeldOnRealWindows, TheErrorPanelNamesTheHeldFile) {
    const std::vector<ReleaseFile> files = second_release();
    const auto before = snapshot(install_);
    publish_all(server_ / "updates", files, "2.0");
    Holder holder(scenario(), install_ / "Data" / "x.dll", "read-write");
    ASSERT_TRUE(holder.holds());
    ScenarioResult r =
        run("answer yes\nclick 图形按钮_下一步\nclick 图形按钮_下一步\ncapture \"error.png\"\n"
            "click 图形按钮_取消\n");
    EXPECT_TRUE(r.contains(kHeldMessage)) << r.transcript;
    EXPECT_EQ(snapshot(install_), before);
    EXPECT_EQ(holder.end(), 0);
    const fs::path picture = scenario().pictures() / "error.png";
    EXPECT_GT(test_support::read_png(picture).width, 0);
    if (const char* env = std::getenv("UPDATE_PICTURES"); env != nullptr && fs::exists(picture))
        fs::copy_file(picture, fs::path(env) / "update-error.png",
                      fs::copy_options::overwrite_existing);
}

INSTANTIATE_TEST_SUITE_P(Systems, UpdateWhileHeld, test_support::both_systems(),
                         test_support::system_test_name);
INSTANTIATE_TEST_SUITE_P(Systems, UpdateWhileHeldOnRealWindows,
                         ::testing::Values(System::win_x64_windows),
                         test_support::system_test_name);

}  // namespace
