// The kernel library at the end of the whole chain: programs made of the
// real stub, a runtime package holding the real kernel library, and images
// built with the SDK, run on Linux and, the same image bytes, under wine64.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/byte_reader.h"
#include "loader/package/writer.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_session.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_bytes;
using test_support::read_text;

const fs::path kNative = NATIVE_BUILD_DIR;
const fs::path kWinX64 = WIN_X64_DIR;

std::vector<uint8_t> image_of(const std::string& program) {
    return read_bytes(kNative / "images" / (program + "-x86-64.img"));
}

const char* const kChain =
    "window-open 0x52010001 \"\"\n"
    "unit-text 编辑框1 \"你好\"\n"      // written, then read back as a heap text equal
                                        // to it: the unit stays visible (no line)
    "unit-place 编辑框1 10 10 42 24\n"  // the width: array elements 1 and 2
    "unit-place 编辑框1 10 10 42 0\n"   // the height: an empty array's count
    "script-end open=0x52010001\n"      // nobody to take the user's part
    "unit-place 编辑框1 99 10 42 0\n"   // the release routine
    "end 0\n";

std::string error_then_release(const std::string& message) {
    return "window-open 0x52010001 \"\"\n"
           "msgbox title=\"Error\" icon=error buttons=ok text=\"" +
           message +
           "\"\n"
           "unit-place 编辑框1 99 10 200 24\n";
}

struct Scenario {
    const char* program;
    std::string transcript;
};

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all = {
        {"chain", kChain},
        {"index_below", error_then_release("Run-time error 4: an array index is below 1.")},
        {"index_above",
         error_then_release("Run-time error 1: an array index is above the element count.")},
    };
    return all;
}

class KernelChain : public ::testing::Test {
  protected:
    // A program of the target's stub and kernel library around `image`.
    fs::path program(const fs::path& stub, const fs::path& kernel, std::span<const uint8_t> image,
                     const std::string& name) {
        const loader::RuntimeFile files[] = {{"krnln.fne", read_bytes(kernel)}};
        std::vector<uint8_t> package =
            loader::build_package(files, 0, "gs-kernel-" + std::to_string(getpid()), 0x2468ACE1, 6);
        fs::path path = scratch_ / name;
        test_support::write_bytes(
            path, test_support::make_program(read_bytes(stub), image, package), true);
        return path;
    }

    test_support::RunResult run_linux(std::span<const uint8_t> image, const std::string& name,
                                      const fs::path& working_folder = {}) {
        fs::path path = program(kNative / "loader" / "stub",
                                kNative / "runtime" / "kernel" / "krnln.fne", image, name);
        fs::create_directories(scratch_ / "tmp");
        fs::remove(transcript());
        return test_support::run(
            {path.string()},
            {"TMPDIR=" + (scratch_ / "tmp").string(), "WJRT_TRANSCRIPT=" + transcript().string()},
            60, working_folder);
    }

    fs::path transcript() const { return scratch_ / "transcript"; }

    test_support::ScratchDir scratch_;
};

TEST_F(KernelChain, ProgramsRunOnLinux) {
    for (const Scenario& s : scenarios()) {
        SCOPED_TRACE(s.program);
        auto result = run_linux(image_of(s.program), s.program);
        // Under the sanitizers a block the program kept, or one released
        // twice, ends the run with a report and another exit code.
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(read_text(transcript()), s.transcript);
    }
}

TEST_F(KernelChain, SameImagesUnderWine) {
    auto& wine = test_support::WineSession::ensure();
    if (wine.state() == test_support::WineSession::State::NotInstalled)
        GTEST_SKIP() << wine.message();
    ASSERT_EQ(wine.state(), test_support::WineSession::State::Running) << wine.message();
    for (const Scenario& s : scenarios()) {
        SCOPED_TRACE(s.program);
        fs::path path =
            program(kWinX64 / "loader" / "stub.exe", kWinX64 / "runtime" / "kernel" / "krnln.fne",
                    image_of(s.program), std::string(s.program) + ".exe");
        fs::remove(transcript());
        std::vector<std::string> environment = wine.environment();
        environment.push_back("WJRT_TRANSCRIPT=" + test_support::windows_path(transcript()));
        auto result = test_support::run({wine.wine(), path.string()}, environment);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(read_text(transcript()), s.transcript);
    }
}

TEST_F(KernelChain, FileSearchThroughTheRuntime) {
    test_support::ScratchDir folder;
    for (const char* name : {"b.dat", "A.dat", "c.txt"})
        test_support::write_bytes(folder / name, std::vector<uint8_t>{1});
    fs::create_directory(folder / "sub");
    auto result = run_linux(image_of("walk"), "walk", folder.path());
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::string text = read_text(transcript());
    // Each name once, in order: the .dat files, then the folder, then the
    // first name of a search that is ended at once, then nothing.
    for (const char* line : {"unit-text 编辑框1 \"A.dat\"\nunit-text 编辑框1 \"b.dat\"\n"
                             "unit-text 编辑框1 \"sub\"\nunit-text 编辑框1 \"A.dat\"\n"
                             "unit-text 编辑框1 \"\"\n"})
        EXPECT_NE(text.find(line), std::string::npos) << text;
}

// A damaged image ends with a message naming the cause, before any of its
// code runs (no window opens).
TEST_F(KernelChain, MalformedImagesAreRefusedBeforeTheyRun) {
    const std::vector<uint8_t> chain = image_of("chain");
    auto segment_header = [&](size_t field) { return base::load_le32(chain.data() + field); };
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
        const char* cause;
    };
    auto patched = [&](size_t offset, uint32_t value) {
        std::vector<uint8_t> image = chain;
        base::store_le32(image.data() + offset, value);
        return image;
    };
    const size_t code_header = segment_header(0x4C);
    const size_t var_header = segment_header(0x50);
    const size_t reloc_header = base::load_le32(chain.data() + var_header + 4);
    const size_t reloc_data = base::load_le32(chain.data() + reloc_header + 44);
    const Case cases[] = {
        {"bad magic", patched(0, 0x4A58), "bad magic"},
        {"fixup outside its segment", patched(code_header + 56, 0x00FFFFF0 * 8 + 3),
         "outside the segment's data"},
        {"relocation offset outside code", patched(reloc_data + 4, 0x00FFFFF0),
         "outside the code data"},
        {"unknown support library", image_of("probe"), "cannot load the library eCompress"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto result = run_linux(c.image, "damaged");
        EXPECT_EQ(result.exit_code, 0);
        const std::string text = read_text(transcript());
        EXPECT_TRUE(text.starts_with(
            "msgbox title=\"Error\" icon=error buttons=ok text=\"The program image is invalid: "))
            << text;
        EXPECT_NE(text.find(c.cause), std::string::npos) << text;
        EXPECT_EQ(text.find("window-open"), std::string::npos) << "no code of a refused image runs";
    }
}

}  // namespace
