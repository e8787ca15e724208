// The kernel library at the end of the whole chain: programs made of the
// real stub, a runtime package holding the real kernel library, and images
// built with the SDK, run on Linux and, the same image bytes, under wine64.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/byte_reader.h"
#include "tests/support/scenario.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_bytes;
using test_support::ScenarioRun;

std::vector<uint8_t> image_of(const std::string& program) {
    return read_bytes(ScenarioRun::native_build_dir() / "images" / (program + "-x86-64.img"));
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

class KernelChain : public test_support::ScenarioTest {
  protected:
    // A program of the system's stub and kernel library around `image`.
    test_support::ScenarioResult run_image(std::span<const uint8_t> image, const std::string& name,
                                           const fs::path& working_folder = {}) {
        return run(scenario().program_of_bytes(name, image), {.working_folder = working_folder});
    }
};

TEST_P(KernelChain, ProgramsRun) {
    for (const Scenario& s : scenarios()) {
        SCOPED_TRACE(s.program);
        auto result = run_image(image_of(s.program), s.program);
        // Under the sanitizers a block the program kept, or one released
        // twice, ends the run with a report and another exit code.
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.transcript, s.transcript);
    }
}

TEST_P(KernelChain, FileSearchThroughTheRuntime) {
    test_support::ScratchDir folder;
    for (const char* name : {"b.dat", "A.dat", "c.txt"})
        test_support::write_bytes(folder / name, std::vector<uint8_t>{1});
    fs::create_directory(folder / "sub");
    auto result = run_image(image_of("walk"), "walk", folder.path());
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::string& text = result.transcript;
    // Each name once, in order: the .dat files, then the folder, then the
    // first name of a search that is ended at once, then nothing.
    for (const char* line : {"unit-text 编辑框1 \"A.dat\"\nunit-text 编辑框1 \"b.dat\"\n"
                             "unit-text 编辑框1 \"sub\"\nunit-text 编辑框1 \"A.dat\"\n"
                             "unit-text 编辑框1 \"\"\n"})
        EXPECT_NE(text.find(line), std::string::npos) << text;
}

// Every address a program passes the runtime is checked before the runtime
// reads, writes or calls it: a service's values, a property's text or
// picture, a command's argument block, a DLL call's argument list. Each bad
// one ends the program with a message naming the service, property, command
// or call and what the address is not; the good ones work.
TEST_P(KernelChain, AddressesTheProgramDoesNotOwnEndIt) {
    // Under wine SetRect is the system's own, which does not check.
    if (system() != test_support::System::linux_x64)
        GTEST_SKIP() << "the runtime's own SetRect runs on Linux only";
    const std::string image_name = "checks";
    const std::vector<uint8_t> image = image_of(image_name);
    const fs::path program = scenario().program_of_bytes(image_name, image);
    auto good = run(program, {});
    EXPECT_EQ(good.exit_code, 0) << good.err;
    // A constant picture of the image; an empty array and a search state on
    // the program's stack; SetRect refusing the const segment (0) and writing
    // the stack (1, bottom 4).
    EXPECT_EQ(good.transcript,
              "window-open 0x52010001 \"\"\n"
              "unit-text 标签_报告 \"图片 3 9\"\n"
              "unit-text 标签_报告 \"栈 0 0 0\"\n"
              "unit-text 标签_报告 \"矩形 0 1 4\"\n"
              "script-end open=0x52010001\n"
              "end 0\n");

    const std::string text = " is not a text that ends inside the program's memory.";
    const std::string state =
        " (next file name) is not a variable of 4 bytes in memory the program may write.";
    const std::string unit = " of the window 0x52010001 is not ";
    const std::pair<const char*, std::string> cases[] = {
        {"按钮_模式在外", "Argument 1 of the runtime service 0 (next file name)" + text},
        {"按钮_模式无尾", "Argument 1 of the runtime service 0 (next file name)" + text},
        {"按钮_状态在常量", "Argument 4 of the runtime service 0" + state},
        {"按钮_状态在栈下", "Argument 4 of the runtime service 0" + state},
        {"按钮_结束在代码",
         "Argument 1 of the runtime service 1 (end file search) is not a variable of 4 bytes in "
         "memory the program may write."},
        {"按钮_数组变量过小",
         "Argument 1 of the runtime service 2 (empty array) is not a variable of 8 bytes in "
         "memory the program may write."},
        {"按钮_释放在外",
         "Argument 1 of the runtime service 3 (release routine) is not a routine in the "
         "program's code."},
        {"按钮_未知服务", "Unknown runtime service 9."},
        {"按钮_文本在外", "The value written to property 1 of the unit 标签_报告 (0x16010001)" +
                              unit + "a text that ends inside the program's memory."},
        {"按钮_行无尾", "The value written to property 15 of the unit 列表框1 (0x16010002)" + unit +
                            "a text that ends inside the program's memory."},
        {"按钮_图片越界", "The value written to property 13 of the unit 图片框1 (0x16010003)" +
                              unit + "a byte array on the runtime's heap or in the image."},
        {"按钮_参数块在外",
         "The argument block of the kernel command 1 does not lie inside the program's memory."},
        {"按钮_参数块越界",
         "The argument block of the kernel command 1 does not lie inside the program's memory."},
        {"按钮_调用参数在外",
         "The arguments of the call of SetRect do not lie inside the program's memory."},
    };
    for (const auto& [button, message] : cases) {
        SCOPED_TRACE(button);
        auto result = run(program, {.script = std::string("click ") + button + "\n"});
        // The sanitizers would end a run that read or wrote where it must
        // not with a report and another exit code.
        EXPECT_EQ(result.exit_code, 0) << result.err;
        const std::string& transcript_text = result.transcript;
        const std::string ending = std::string("user-click ") + button +
                                   "\nmsgbox title=\"Error\" icon=error buttons=ok text=\"" +
                                   message + "\"\n";
        EXPECT_TRUE(transcript_text.ends_with(ending)) << transcript_text;
    }
}

// A damaged image ends with a message naming the cause, before any of its
// code runs (no window opens).
TEST_P(KernelChain, MalformedImagesAreRefusedBeforeTheyRun) {
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
        auto result = run_image(c.image, "damaged");
        EXPECT_EQ(result.exit_code, 0);
        const std::string& text = result.transcript;
        EXPECT_TRUE(text.starts_with(
            "msgbox title=\"Error\" icon=error buttons=ok text=\"The program image is invalid: "))
            << text;
        EXPECT_NE(text.find(c.cause), std::string::npos) << text;
        EXPECT_EQ(text.find("window-open"), std::string::npos) << "no code of a refused image runs";
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, KernelChain, test_support::both_systems(),
                         test_support::system_test_name);

}  // namespace
