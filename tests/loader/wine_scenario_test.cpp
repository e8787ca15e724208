// Whole starts of win-x64 programs under wine: each program is assembled from
// the real Windows stub, a sample image and a crafted runtime package, then
// run with the stand-in kernel libraries. What a person would have seen (the
// hand-off, or the "Error" box) comes back through the automation transcript.
//
// The wine environment (prefix, wineserver, virtual display) is started or
// joined through scripts/wine-env.sh on first use, with this process as its
// holder, and let go when the test program ends; parallel test processes
// share it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "loader/package/format.h"
#include "loader/package/writer.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_session.h"

namespace {

namespace fs = std::filesystem;
using loader::RuntimeFile;
using test_support::read_bytes;
using test_support::read_text;

const fs::path kWinX64Dir = WIN_X64_DIR;

using test_support::windows_path;
using test_support::WineSession;

using test_support::lines_of;

std::string handoff_line(const std::vector<uint8_t>& image) {
    return "handoff image-aligned=yes in-section=yes head=" + test_support::hex_head(image);
}

std::string error_box_line(const std::string& message) {
    return "msgbox title=\"Error\" icon=error buttons=ok text=\"" + message + "\"";
}

std::vector<uint8_t> standin_kernel(int flavour) {
    return read_bytes(kWinX64Dir / "tests" /
                      ("standin_kernel_" + std::to_string(flavour) + ".dll"));
}

// Runtime files beside the kernel library: a support library and an empty file.
std::vector<RuntimeFile> companion_files() {
    return {{"support.fne", {'s', 'u', 'p', 'p', 'o', 'r', 't'}}, {"empty.dat", {}}};
}

std::vector<RuntimeFile> runtime_with_kernel(std::vector<uint8_t> kernel) {
    std::vector<RuntimeFile> files = companion_files();
    files.insert(files.begin(), RuntimeFile{"krnln.fne", std::move(kernel)});
    return files;
}

std::string folder_of_number(uint32_t number) {
    char name[16];
    std::snprintf(name, sizeof name, "E_N%X", number);
    return name;
}

std::vector<fs::path> stamp_files(const fs::path& folder) {
    std::vector<fs::path> stamps;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        if (entry.path().filename().string().starts_with(".loader-stamp-"))
            stamps.push_back(entry.path());
    }
    return stamps;
}

void expect_runtime_files(const fs::path& folder, const std::vector<RuntimeFile>& files) {
    for (const RuntimeFile& file : files) {
        fs::path path = folder / file.name;
        ASSERT_TRUE(fs::exists(path)) << path;
        EXPECT_EQ(read_bytes(path), file.content) << path;
    }
}

// A program started without waiting; ended by force if the test leaves early.
class Instance {
  public:
    explicit Instance(int pid) : pid_(pid) {}
    ~Instance() {
        if (pid_ > 0 && running()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    bool running() {
        if (pid_ <= 0 || exit_code_)
            return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return false;
        }
        return true;
    }
    int finish(int timeout_seconds) {
        if (exit_code_)
            return *exit_code_;
        exit_code_ = test_support::wait_for(pid_, timeout_seconds);
        return *exit_code_;
    }

  private:
    int pid_;
    std::optional<int> exit_code_;
};

class WineScenarioTest : public ::testing::Test {
  protected:
    struct ProgramRun {
        int exit_code = -1;
        std::vector<std::string> transcript;
    };

    void SetUp() override {
        if (kWinX64Dir.empty())
            GTEST_SKIP() << "configured without WIN_X64_DIR";
        WineSession& wine = WineSession::ensure();
        if (wine.state() == WineSession::State::NotInstalled)
            GTEST_SKIP() << wine.message();
        ASSERT_EQ(wine.state(), WineSession::State::Running) << wine.message();
        stub_ = read_bytes(kWinX64Dir / "loader" / "stub.exe");
    }

    void TearDown() override {
        std::error_code ignored;
        for (const fs::path& folder : runtime_folders_)
            fs::remove_all(folder, ignored);
    }

    const WineSession& wine() const { return WineSession::ensure(); }

    // A folder number and name of their own for each package, so that test
    // processes running side by side never share a runtime folder.
    uint32_t fresh_folder_number() {
        return (static_cast<uint32_t>(getpid()) << 8) | (++uses_ & 0xFF);
    }
    std::string fresh_folder_name() {
        return "wjt-" + std::to_string(getpid()) + "-" + std::to_string(++uses_);
    }

    // The runtime folder of that name in wine's temporary folder; empty now,
    // removed at the end.
    fs::path runtime_folder(const std::string& name) {
        fs::path folder = wine().temp_dir() / name;
        fs::remove_all(folder);
        runtime_folders_.push_back(folder);
        return folder;
    }

    fs::path write_program(const std::vector<uint8_t>& program) {
        fs::path path = scratch_ / ("program-" + std::to_string(++uses_) + ".exe");
        test_support::write_bytes(path, program, true);
        return path;
    }

    fs::path write_program(const std::vector<uint8_t>& image, const std::vector<uint8_t>& package) {
        return write_program(test_support::make_program(stub_, image, package));
    }

    std::vector<std::string> run_environment(const fs::path& transcript,
                                             const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> environment = wine().environment();
        environment.push_back("WJRT_TRANSCRIPT=" + windows_path(transcript));
        environment.insert(environment.end(), extra.begin(), extra.end());
        return environment;
    }

    fs::path fresh_transcript() { return scratch_ / ("transcript-" + std::to_string(++uses_)); }

    ProgramRun run_program(const fs::path& program) {
        fs::path transcript = fresh_transcript();
        auto result =
            test_support::run({wine().wine(), program.string()}, run_environment(transcript), 60);
        return {result.exit_code, lines_of(read_text(transcript))};
    }

    std::vector<uint8_t> stub_;
    test_support::ScratchDir scratch_;
    std::vector<fs::path> runtime_folders_;
    unsigned uses_ = 0;
};

// ---------------------------------------------------------------------------
// A good package: the runtime reaches its folder and the kernel gets the image
// where the system loader mapped the image section.

TEST_F(WineScenarioTest, GoodPackageReachesTheKernelWithTheMappedImage) {
    struct Layout {
        const char* what;
        bool named_folder;
        uint32_t scramble_key;
        int level;
        size_t image_size;
    };
    const Layout layouts[] = {
        {"named folder, no scrambling", true, 0, 6, 4096 * 3 + 100},
        {"folder named after its number, scrambled", false, 0xC3A5175Eu, 9, 20000},
    };
    const std::vector<RuntimeFile> files = runtime_with_kernel(standin_kernel(0));
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.what);
        uint32_t number = fresh_folder_number();
        std::string name = layout.named_folder ? fresh_folder_name() : "";
        fs::path folder = runtime_folder(name.empty() ? folder_of_number(number) : name);
        auto image = test_support::sample_image(layout.image_size, static_cast<uint8_t>(number));
        auto package =
            loader::build_package(files, number, name, layout.scramble_key, layout.level);

        ProgramRun run = run_program(write_program(image, package));

        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.transcript, std::vector<std::string>{handoff_line(image)});
        expect_runtime_files(folder, files);
        EXPECT_EQ(stamp_files(folder).size(), 1u) << "warm-start stamp in " << folder;
    }
}

// ---------------------------------------------------------------------------
// Every failure class a package can provoke ends in its own "Error" box, and
// the process still exits with code 0.

enum class Kernel { Working, Refusing, WithoutExport, NotALibrary, Absent };
enum class Damage { None, TrailerMagic, LeadingMagic, DataMagic, NoStream, OverlongFolderName };

struct FailureCase {
    const char* name;
    Kernel kernel;
    Damage damage;
    const char* message;
    bool runtime_written;  // whether the runtime files reach their folder first
};

// Names the case in test listings.
void PrintTo(const FailureCase& failure, std::ostream* out) {
    *out << failure.name;
}

const FailureCase kFailureCases[] = {
    {"TrailerMagicWrong", Kernel::Working, Damage::TrailerMagic, "Invalid data in the file!",
     false},
    {"DataMagicWrong", Kernel::Working, Damage::DataMagic, "Invalid data in the file!", false},
    {"LeadingMagicWrong", Kernel::Working, Damage::LeadingMagic,
     "Failed to read file or invalid data in file!", false},
    {"SmallestPackageHasNoStream", Kernel::Working, Damage::NoStream, "Failed to decompress data!",
     false},
    {"FolderPathTooLong", Kernel::Working, Damage::OverlongFolderName,
     "Can't retrieve the temporary directory!", false},
    {"NoKernelEntry", Kernel::Absent, Damage::None, "Not found the kernel library!", true},
    {"KernelNotALibrary", Kernel::NotALibrary, Damage::None, "Failed to load kernel library!",
     true},
    {"KernelWithoutExport", Kernel::WithoutExport, Damage::None, "The kernel library is invalid!",
     true},
    {"KernelRefusesHandOff", Kernel::Refusing, Damage::None,
     "The interface of kernel library is invalid!", true},
};

class WineFailureTest : public WineScenarioTest, public ::testing::WithParamInterface<FailureCase> {
  protected:
    std::vector<RuntimeFile> runtime_files(Kernel kernel) const {
        switch (kernel) {
            case Kernel::Working:
                return runtime_with_kernel(standin_kernel(0));
            case Kernel::Refusing:
                return runtime_with_kernel(standin_kernel(1));
            case Kernel::WithoutExport:
                return runtime_with_kernel(standin_kernel(2));
            case Kernel::NotALibrary: {
                std::string text = "these bytes are no library";
                return runtime_with_kernel({text.begin(), text.end()});
            }
            case Kernel::Absent:
                return companion_files();
        }
        return {};
    }
};

TEST_P(WineFailureTest, ShowsItsErrorBoxAndExitsWithZero) {
    const FailureCase& failure = GetParam();
    const std::vector<RuntimeFile> files = runtime_files(failure.kernel);
    const auto image = test_support::sample_image();

    loader::PackageFields fields = loader::default_package_fields();
    fields.folder_number = fresh_folder_number();
    fields.scramble_key = 0x1F2E3D4Cu;
    fields.folder_name = fresh_folder_name();
    std::vector<uint8_t> list = loader::encode_file_list(files);
    fields.unpacked_size = static_cast<uint32_t>(list.size());
    fields.stream = loader::zlib_compress(list, 6);
    switch (failure.damage) {
        case Damage::None:
        case Damage::TrailerMagic:
            break;
        case Damage::LeadingMagic:
            fields.magic ^= 0xFF;
            break;
        case Damage::DataMagic:
            fields.data_magic += 1;
            break;
        case Damage::NoStream:
            fields.folder_name.clear();
            fields.stream.clear();
            break;
        case Damage::OverlongFolderName:
            // A bare name of the longest length allowed: no temporary folder
            // leaves room for it within the path limit.
            fields.folder_name.resize(loader::kMaxNameLength, 'n');
            break;
    }
    std::vector<uint8_t> package = loader::build_package(fields);
    if (failure.damage == Damage::NoStream) {
        ASSERT_EQ(package.size(), loader::kMinPackageLength);
    }
    std::vector<uint8_t> program = test_support::make_program(stub_, image, package);
    if (failure.damage == Damage::TrailerMagic)
        program.back() ^= 0xFF;
    fs::path folder =
        failure.damage == Damage::OverlongFolderName
            ? fs::path()
            : runtime_folder(fields.folder_name.empty() ? folder_of_number(fields.folder_number)
                                                        : fields.folder_name);

    ProgramRun run = run_program(write_program(program));

    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.transcript, std::vector<std::string>{error_box_line(failure.message)});
    if (folder.empty())
        return;
    if (failure.runtime_written) {
        expect_runtime_files(folder, files);
    } else {
        for (const RuntimeFile& file : files)
            EXPECT_FALSE(fs::exists(folder / file.name)) << file.name << " was written";
    }
}

INSTANTIATE_TEST_SUITE_P(Wine, WineFailureTest, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A second instance starts while the first one has the kernel library loaded
// and is still running: from the warm-start stamp, and, with the stamp gone,
// by finding every runtime file already holding the package's content.

TEST_F(WineScenarioTest, SecondInstanceStartsWhileFirstHoldsTheRuntime) {
    const std::vector<RuntimeFile> files = runtime_with_kernel(standin_kernel(0));
    for (bool remove_stamp : {false, true}) {
        SCOPED_TRACE(remove_stamp ? "stamp removed" : "stamp present");
        std::string name = fresh_folder_name();
        fs::path folder = runtime_folder(name);
        auto image = test_support::sample_image(9000, static_cast<uint8_t>(remove_stamp ? 5 : 4));
        fs::path program =
            write_program(image, loader::build_package(files, 0, name, 0x0BADF00Du, 6));
        fs::path release = scratch_ / ("release-" + std::to_string(++uses_));
        fs::path first_transcript = fresh_transcript();

        Instance first(test_support::start(
            {wine().wine(), program.string()},
            run_environment(first_transcript, {"STANDIN_HOLD=" + windows_path(release)})));
        // The first instance is inside the hand-off once its line is there.
        for (int i = 0; i < 6000 && first.running(); ++i) {
            if (read_text(first_transcript).find("handoff ") != std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(first.running()) << "the first instance did not reach the hand-off";
        ASSERT_EQ(lines_of(read_text(first_transcript)),
                  std::vector<std::string>{handoff_line(image)});

        struct stat kernel_before {};
        ASSERT_EQ(stat((folder / "krnln.fne").c_str(), &kernel_before), 0);
        if (remove_stamp) {
            auto stamps = stamp_files(folder);
            ASSERT_EQ(stamps.size(), 1u);
            fs::remove(stamps[0]);
        }

        ProgramRun second = run_program(program);

        EXPECT_TRUE(first.running()) << "the first instance let go of the runtime too early";
        EXPECT_EQ(second.exit_code, 0);
        EXPECT_EQ(second.transcript, std::vector<std::string>{handoff_line(image)});
        // The loaded library was left in place, not replaced.
        struct stat kernel_after {};
        ASSERT_EQ(stat((folder / "krnln.fne").c_str(), &kernel_after), 0);
        EXPECT_EQ(kernel_after.st_ino, kernel_before.st_ino);
        expect_runtime_files(folder, files);
        EXPECT_EQ(stamp_files(folder).size(), 1u);

        test_support::write_bytes(release, {});
        EXPECT_EQ(first.finish(60), 0);
        EXPECT_EQ(lines_of(read_text(first_transcript)),
                  std::vector<std::string>{handoff_line(image)});
    }
}

}  // namespace
