#include "tests/support/scenario.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <map>
#include <stdexcept>

#include "base/automation/transcript.h"
#include "loader/package/writer.h"
#include "tests/support/wine_session.h"

namespace test_support {

namespace {

const fs::path kNative = NATIVE_BUILD_DIR;
const fs::path kWinX64 = WIN_X64_DIR;

// What a win-x64 program is assembled from.
const fs::path kWinParts[] = {fs::path("loader") / "stub.exe",
                              fs::path("runtime") / "kernel" / "krnln.fne"};

std::atomic<unsigned> runs_made{0};

}  // namespace

const char* system_name(System system) {
    switch (system) {
        case System::linux_x64:
            return "linux_x64";
        case System::win_x64:
            return "win_x64";
        case System::win_x64_windows:
            return "win_x64_windows";
    }
    return "unknown";
}

void PrintTo(System system, std::ostream* out) {
    *out << system_name(system);
}

std::string system_test_name(const ::testing::TestParamInfo<System>& info) {
    return system_name(info.param);
}

fs::path u8path(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8_of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string transcript_escaped(std::string_view text) {
    const std::string quoted = automation::quote(text);
    return quoted.substr(1, quoted.size() - 2);
}

std::string script_quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// ---- FolderBuilder ----

FolderBuilder::FolderBuilder(fs::path root) : root_(std::move(root)) {
    fs::create_directories(root_);
}

fs::path FolderBuilder::path(std::string_view relative) const {
    return relative.empty() ? root_ : root_ / u8path(relative);
}

FolderBuilder& FolderBuilder::file(std::string_view relative, std::span<const uint8_t> content) {
    const fs::path at = path(relative);
    fs::create_directories(at.parent_path());
    write_bytes(at, content);
    return *this;
}

FolderBuilder& FolderBuilder::file(std::string_view relative, std::string_view content) {
    return file(relative,
                std::span(reinterpret_cast<const uint8_t*>(content.data()), content.size()));
}

FolderBuilder& FolderBuilder::file(std::string_view relative, std::string_view content,
                                   time_t last_write) {
    file(relative, content);
    set_last_write(path(relative), last_write);
    return *this;
}

FolderBuilder& FolderBuilder::folder(std::string_view relative) {
    fs::create_directories(path(relative));
    return *this;
}

FolderBuilder& FolderBuilder::folder_link(std::string_view relative, const fs::path& target) {
    const fs::path at = path(relative);
    fs::create_directories(at.parent_path());
    fs::create_directory_symlink(target, at);
    return *this;
}

void set_last_write(const fs::path& path, time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the time of " + path.string());
}

// ---- ScenarioResult ----

std::vector<std::string> ScenarioResult::lines() const {
    return lines_of(transcript);
}

std::string ScenarioResult::tail(size_t count) const {
    if (count == 0)
        return "";
    size_t at = transcript.size();
    // A last line without its end counts as a line.
    if (at > 0 && transcript[at - 1] == '\n')
        --at;
    for (size_t found = 0; at > 0; --at) {
        if (transcript[at - 1] == '\n' && ++found == count)
            break;
    }
    return transcript.substr(at);
}

// ---- ScenarioRun ----

ScenarioRun::ScenarioRun(System system)
    : system_(system),
      folder_name_("gs-scenario-" + std::to_string(getpid()) + "-" + std::to_string(++runs_made)) {
    fs::create_directories(work());
    if (windows())
        fs::create_directories(pictures());
    else
        fs::create_directories(temp_dir());
}

ScenarioRun::~ScenarioRun() {
    // Only runs that went to wine can have left a runtime folder there.
    if (!windows() || !ran_)
        return;
    const WineSession& wine = WineSession::ensure();
    if (wine.state() != WineSession::State::Running)
        return;
    std::error_code ignored;
    fs::remove_all(wine.temp_dir() / folder_name_, ignored);
}

std::optional<std::string> ScenarioRun::unavailable() const {
    if (!windows())
        return std::nullopt;
    if (kWinX64.empty())
        return "configured without WIN_X64_DIR";
    for (const fs::path& part : kWinParts) {
        if (!fs::exists(kWinX64 / part))
            return "the win-x64 target is not built: no " + (kWinX64 / part).string();
    }
    const WineSession& wine = WineSession::ensure();
    if (wine.state() == WineSession::State::NotInstalled)
        return wine.message();
    return std::nullopt;
}

std::optional<std::string> ScenarioRun::broken() const {
    if (!windows())
        return std::nullopt;
    const WineSession& wine = WineSession::ensure();
    if (wine.state() != WineSession::State::Running)
        return wine.message();
    return std::nullopt;
}

const fs::path& ScenarioRun::build_dir() const {
    return windows() ? kWinX64 : kNative;
}

const fs::path& ScenarioRun::native_build_dir() {
    return kNative;
}

std::string ScenarioRun::executable_name(const std::string& name) const {
    return windows() ? name + ".exe" : name;
}

fs::path ScenarioRun::work() const {
    return folder() / "work";
}

fs::path ScenarioRun::pictures() const {
    return folder() / "pictures";
}

fs::path ScenarioRun::temp_dir() const {
    return windows() ? WineSession::ensure().temp_dir() : folder() / "tmp";
}

std::string ScenarioRun::host_path(const fs::path& path) const {
    return windows() ? windows_path(path) : path.string();
}

fs::path ScenarioRun::program(const std::string& image_name,
                              const std::vector<std::string>& libraries) {
    return program_of_image(kNative / "images" / (image_name + "-x86-64.img"), libraries);
}

fs::path ScenarioRun::program_of_image(const fs::path& image,
                                       const std::vector<std::string>& libraries) {
    std::string name = image.stem().string();
    for (const std::string& library : libraries)
        name += "+" + library;
    const fs::path out = folder() / "programs" / executable_name(name);
    if (!fs::exists(out)) {
        fs::create_directories(out.parent_path());
        assemble_program(out, build_dir(), image, libraries, folder_name_);
    }
    return out;
}

fs::path ScenarioRun::program_of_bytes(const std::string& name, std::span<const uint8_t> image,
                                       const std::vector<std::string>& libraries) {
    const fs::path bytes = folder() / ("image-" + std::to_string(++written_));
    write_bytes(bytes, image);
    const fs::path out = folder() / "programs" / executable_name(name);
    fs::create_directories(out.parent_path());
    assemble_program(out, build_dir(), bytes, libraries, folder_name_);
    fs::remove(bytes);
    return out;
}

std::vector<std::string> ScenarioRun::environment() const {
    if (!windows())
        return {"TMPDIR=" + temp_dir().string()};
    std::vector<std::string> environment;
    for (const std::string& entry : WineSession::ensure().environment()) {
        if (!entry.starts_with("WJRT_UI="))
            environment.push_back(entry);
    }
    environment.push_back(system_ == System::win_x64_windows ? "WJRT_UI=win32"
                                                             : "WJRT_UI=headless");
    environment.push_back("WJRT_CAPTURE_DIR=" + host_path(pictures()));
    return environment;
}

std::vector<std::string> ScenarioRun::command(const fs::path& program) const {
    if (windows())
        return {WineSession::ensure().wine(), program.string()};
    return {program.string()};
}

ScenarioResult ScenarioRun::run(const fs::path& program, const Scenario& scenario) {
    ran_ = true;
    const fs::path script = folder() / "script";
    const fs::path transcript = folder() / "transcript";
    // Every process of a run appends to the transcript.
    fs::remove(transcript);
    std::vector<std::string> environment = this->environment();
    environment.push_back("WJRT_TRANSCRIPT=" + host_path(transcript));
    if (scenario.script) {
        write_bytes(script, std::span(reinterpret_cast<const uint8_t*>(scenario.script->data()),
                                      scenario.script->size()));
        environment.push_back("WJRT_SCRIPT=" + host_path(script));
    }
    environment.insert(environment.end(), scenario.environment.begin(), scenario.environment.end());
    std::vector<std::string> argv = command(program);
    argv.insert(argv.end(), scenario.arguments.begin(), scenario.arguments.end());
    RunResult result =
        test_support::run(argv, environment, scenario.timeout_seconds, scenario.working_folder);
    return {result.exit_code, std::move(result.out), std::move(result.err), read_text(transcript)};
}

// ---- ScenarioTest ----

void ScenarioTest::SetUp() {
    run_ = std::make_unique<ScenarioRun>(GetParam());
    if (auto why = run_->unavailable())
        GTEST_SKIP() << *why;
    if (auto why = run_->broken())
        FAIL() << *why;
}

const NginxServer& ScenarioTest::serve(const fs::path& root) {
    auto server = std::make_unique<NginxServer>(root);
    if (!server->running())
        throw std::runtime_error("nginx did not come up: " + server->error());
    servers_.push_back(std::move(server));
    return *servers_.back();
}

}  // namespace test_support
