// SDK-built x86-64 images run for real: bound by the test host into native
// memory on Linux, and the same image bytes under the win-x64 host in
// wine64. Both must make the same runtime calls in the same order.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/scenario.h"

namespace {

namespace fs = std::filesystem;

// What the probe program does, call by call (texts as GBK hex).
const char* const kProbeCalls =
    "library-load 0 krnln\n"
    "library-load 1 eCompress\n"
    "bound\n"
    "heap-new 16\n"             // the global initialiser's object
    "service on-release\n"      // then the release routine is registered
    "load-window 0x52010001\n"  // after the module initialisers
    "serve-events 0\n"
    "kernel 1 text:c4e3bac3 int:42 bool:1\n"  // "你好", a virtual call, the module initialiser ran
    "set-property 0x52010001 0x16010003 1 -1 42\n"
    "get-property 0x52010001 0x16010003 1 -1 -> 42\n"
    "kernel 1 text:b6c1bbd8 int:42 bool:0\n"
    "dll 0 count 2 sum 7\n"
    "kernel 1 text:444c4c int:7 bool:1\n"
    "library 1 command 5 unit(type 0x00020001):0x52010001/0x16010004\n"
    "kernel 1 text:bfe2 int:77 bool:1\n"
    "callback 5\n"
    "kernel 1 text:bbd8b5f7 int:5 bool:1\n"  // called back through the routine's address
    "heap-new 5\n"                           // a heap text "复制"
    "heap-new 20\n"                          // an array of three numbers
    "kernel 1 text:b8b4d6c6 int:60 bool:1\n"
    "heap-free\n"
    "heap-free\n"
    "heap-new 100\n"
    "heap-resize 200\n"
    "heap-free\n"
    "exit 0\n"
    "heap-free\n"  // the release routine
    "ended\n";

std::string without_carriage_returns(std::string text) {
    std::erase(text, '\r');
    return text;
}

class ImageRun : public test_support::ScenarioTest {};

TEST_P(ImageRun, ProbeMakesItsCalls) {
    const fs::path host =
        scenario().build_dir() / "tests" / scenario().executable_name("image_host");
    ASSERT_TRUE(fs::exists(host)) << "build the target first: no " << host;
    const fs::path image =
        test_support::ScenarioRun::native_build_dir() / "images" / "probe-x86-64.img";
    auto result = run(host, {.arguments = {host_path(image)}});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    // The win-x64 host's standard output ends its lines with CR LF.
    EXPECT_EQ(windows() ? without_carriage_returns(result.out) : result.out, kProbeCalls);
}

INSTANTIATE_TEST_SUITE_P(Systems, ImageRun, test_support::both_systems(),
                         test_support::system_test_name);

}  // namespace
