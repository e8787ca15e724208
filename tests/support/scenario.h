// Scenario tests: a program of the suite run with a script in a folder the
// test prepares, judged by its transcript, exit code and the files it left,
// written once and run over every system it must behave the same on.
//
//   class Hello : public test_support::ScenarioTest {};
//   TEST_P(Hello, Greets) {
//       auto r = run(program("hello"), {.script = "click 按钮_问候\nanswer ok\n"});
//       EXPECT_EQ(r.exit_code, 0) << r.err;
//       EXPECT_EQ(r.tail(1), "script-end open=0x52010001\n");
//   }
//   INSTANTIATE_TEST_SUITE_P(Systems, Hello, test_support::both_systems(),
//                            test_support::system_test_name);
//
// A system that cannot run here skips the test: the win-x64 build folder
// absent, or wine64 not installed. Wine installed but failing to start is a
// failure.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/nginx_server.h"
#include "tests/support/test_support.h"

namespace test_support {

enum class System {
    linux_x64,        // the native program
    win_x64,          // the win-x64 program under wine64, without windows (WJRT_UI=headless)
    win_x64_windows,  // the same on real windows (WJRT_UI=win32) on the virtual display
};

const char* system_name(System system);
void PrintTo(System system, std::ostream* out);
inline bool is_windows(System system) {
    return system != System::linux_x64;
}

// The instantiations most scenario tests want.
inline auto both_systems() {
    return ::testing::Values(System::linux_x64, System::win_x64);
}
// Test names end in the system's name: ".../linux_x64", ".../win_x64".
std::string system_test_name(const ::testing::TestParamInfo<System>& info);

// A path from UTF-8 text.
fs::path u8path(std::string_view utf8);
// A path's text in UTF-8.
std::string utf8_of(const fs::path& path);

// `text` as a transcript quotes it, without the quotes: backslashes, double
// quotes and line breaks escaped.
std::string transcript_escaped(std::string_view text);
// `text` as a script step takes it: quoted, backslashes and quotes escaped.
std::string script_quoted(std::string_view text);

// Files and folders for a scenario below one root. Relative names are UTF-8
// with '/' between parts; folders on the way are made as needed.
class FolderBuilder {
  public:
    explicit FolderBuilder(fs::path root);

    FolderBuilder& file(std::string_view relative, std::string_view content);
    // With this last-write (and access) time, whole seconds.
    FolderBuilder& file(std::string_view relative, std::string_view content, time_t last_write);
    FolderBuilder& file(std::string_view relative, std::span<const uint8_t> content);
    FolderBuilder& folder(std::string_view relative);
    // A symbolic link to a folder.
    FolderBuilder& folder_link(std::string_view relative, const fs::path& target);

    const fs::path& root() const { return root_; }
    fs::path path(std::string_view relative) const;
    fs::path operator/(std::string_view relative) const { return path(relative); }

  private:
    fs::path root_;
};

// Sets a file's last-write time, whole seconds.
void set_last_write(const fs::path& path, time_t when);

// What one run of a program left.
struct ScenarioResult {
    int exit_code = -1;
    std::string out;
    std::string err;
    std::string transcript;  // UTF-8 on every system

    // The transcript's lines without their line ends.
    std::vector<std::string> lines() const;
    // The last `count` lines, each with its line end.
    std::string tail(size_t count) const;
    bool contains(std::string_view part) const {
        return transcript.find(part) != std::string::npos;
    }
};

// One run: what the program gets besides its system's own environment.
struct Scenario {
    // The script the runtime takes the person's part from (WJRT_SCRIPT);
    // none: the variable is not set.
    std::optional<std::string> script;
    // Arguments after the program, as the program sees them (host_path).
    std::vector<std::string> arguments;
    // More NAME=value entries; paths in them through host_path.
    std::vector<std::string> environment;
    // Where the program starts; empty: the test process's folder.
    fs::path working_folder;
    // A safety net, not a measure: a hung program is killed (exit code -1).
    int timeout_seconds = 120;
};

// Runs programs on one system, in a scratch folder of its own (removed at
// the end, with the runtime folders its programs made in wine's temporary
// folder). Several may live side by side, as when a test compares a run on
// real windows with the headless Linux run.
class ScenarioRun {
  public:
    explicit ScenarioRun(System system);
    ~ScenarioRun();
    ScenarioRun(const ScenarioRun&) = delete;
    ScenarioRun& operator=(const ScenarioRun&) = delete;

    System system() const { return system_; }
    bool windows() const { return is_windows(system_); }

    // Why the system cannot run here (skip), if it cannot.
    std::optional<std::string> unavailable() const;
    // Why the system should run here and does not (fail), if so.
    std::optional<std::string> broken() const;

    // The build folder of the system's target (native or win-x64).
    const fs::path& build_dir() const;
    // The build folder of the native target, where every image is built.
    static const fs::path& native_build_dir();
    // "name" on Linux, "name.exe" on Windows.
    std::string executable_name(const std::string& name) const;

    // The scratch folder of this run's files; work() is an empty folder
    // below it, made for the program to work in.
    const fs::path& folder() const { return scratch_.path(); }
    fs::path work() const;
    // Where pictures taken with "capture" land on real windows.
    fs::path pictures() const;
    // The programs' temporary folder, as a Unix path: the run's own on
    // Linux, the prefix's on Windows.
    fs::path temp_dir() const;

    // A path as the program sees it ("Z:\..." under wine).
    std::string host_path(const fs::path& path) const;
    // The same as a transcript quotes it.
    std::string shown_path(const fs::path& path) const {
        return transcript_escaped(host_path(path));
    }

    // The whole program of an image (native build's images/NAME-x86-64.img
    // when only a name is given) with the kernel and these support
    // libraries, assembled on first use.
    fs::path program(const std::string& image_name, const std::vector<std::string>& libraries = {});
    fs::path program_of_image(const fs::path& image,
                              const std::vector<std::string>& libraries = {});
    // The same around image bytes the test made; written anew each call.
    fs::path program_of_bytes(const std::string& name, std::span<const uint8_t> image,
                              const std::vector<std::string>& libraries = {});

    // Runs `program` (a program of this system: one from program(), or an
    // executable of build_dir()) with the scenario, the transcript in
    // folder()/transcript (written anew), the script in folder()/script.
    ScenarioResult run(const fs::path& program, const Scenario& scenario = {});

    // The environment every run on this system has.
    std::vector<std::string> environment() const;
    // The command line that starts an executable of this system.
    std::vector<std::string> command(const fs::path& program) const;

  private:
    System system_;
    ScratchDir scratch_;
    std::string folder_name_;  // of the runtime folder the programs share
    unsigned written_ = 0;
    bool ran_ = false;
};

// The fixture of scenario tests: one ScenarioRun of the parameter's system,
// skipped when that system cannot run here.
class ScenarioTest : public ::testing::TestWithParam<System> {
  protected:
    void SetUp() override;

    System system() const { return GetParam(); }
    bool windows() const { return is_windows(GetParam()); }
    ScenarioRun& scenario() { return *run_; }

    // Shorthands for the run's own.
    fs::path program(const std::string& image_name,
                     const std::vector<std::string>& libraries = {}) {
        return run_->program(image_name, libraries);
    }
    ScenarioResult run(const fs::path& program, const Scenario& scenario = {}) {
        return run_->run(program, scenario);
    }
    std::string host_path(const fs::path& path) const { return run_->host_path(path); }
    fs::path work() const { return run_->work(); }
    FolderBuilder work_folder() const { return FolderBuilder(run_->work()); }

    // nginx on 127.0.0.1 serving `root` for the rest of the test; throws
    // (a test failure) when it does not come up.
    const NginxServer& serve(const fs::path& root);

  private:
    std::unique_ptr<ScenarioRun> run_;
    std::vector<std::unique_ptr<NginxServer>> servers_;
};

}  // namespace test_support
