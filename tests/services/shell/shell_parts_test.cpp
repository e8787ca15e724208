// The parts of the shell on their own: the shortcut file that Linux writes
// (read back with lnkinfo), the headless drawing model, and the folder
// dialog's script steps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "runtime/kernel/automation/driver.h"
#include "runtime/kernel/automation/script.h"
#include "runtime/kernel/services/headless_drawing.h"
#include "runtime/libraries/pbshell/shortcut.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_bytes;
using test_support::ScratchDir;

std::string gbk(const std::string& utf8) {
    // The tests' own texts: every one of them has a GBK form.
    const char* const table[][2] = {{"游戏", "\xD3\xCE\xCF\xB7"},
                                    {"星河", "\xD0\xC7\xBA\xD3"},
                                    {"登录器", "\xB5\xC7\xC2\xBC\xC6\xF7"},
                                    {"乗", "\x81\x5C"},
                                    {"用户", "\xD3\xC3\xBB\xA7"}};
    std::string out = utf8;
    for (const auto& [from, to] : table) {
        for (size_t at; (at = out.find(from)) != std::string::npos;)
            out.replace(at, std::strlen(from), to);
    }
    return out;
}

// lnkinfo's report of a shortcut file.
std::string lnkinfo(const fs::path& file) {
    auto result = test_support::run({"/usr/bin/lnkinfo", file.string()}, {});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result.out;
}

class Shortcuts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists("/usr/bin/lnkinfo"))
            GTEST_SKIP() << "lnkinfo is not installed (liblnk-utils)";
    }
    ScratchDir scratch_;
};

TEST_F(Shortcuts, LinuxWriterGivesWhatTheShellReads) {
    struct Case {
        const char* what;
        const char* target;  // UTF-8 here, GBK to the writer
        const char* comment;
        const char* folder;
        std::vector<const char*> expected;    // lines of lnkinfo's report
        std::vector<const char*> unexpected;  // parts it must not report
    };
    const Case cases[] = {
        {"local drive path with GBK texts",
         "C:\\游戏\\登录器.exe",
         "星河\r\n星河",
         "C:\\游戏\\",
         {"\tLocal path\t\t\t: C:\\游戏\\登录器.exe\n", "\tDescription\t\t\t: 星河\r\n星河\n",
          "\tWorking directory\t\t: C:\\游戏\\\n", "\tDrive type\t\t\t: Fixed (3)\n"},
         {"Relative path"}},
        {"a Linux path is written as a Windows path",
         "/home/用户/游戏\\launcher",
         "",
         "/home/用户/游戏/",
         {"\tRelative path\t\t\t: \\home\\用户\\游戏\\launcher\n",
          "\tWorking directory\t\t: \\home\\用户\\游戏\\\n"},
         {"Local path", "Description"}},
        // 乗 ends in the byte of '\': it must stay one character.
        {"double-byte character ending in 0x5C",
         "D:\\乗\\a.exe",
         "乗",
         "",
         {"\tLocal path\t\t\t: D:\\乗\\a.exe\n", "\tDescription\t\t\t: 乗\n"},
         {"Working directory"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path file = scratch_ / "link.lnk";
        ASSERT_TRUE(
            pbshell::write_shortcut(file.string(), gbk(c.target), gbk(c.comment), gbk(c.folder)));
        const std::string report = lnkinfo(file);
        for (const char* line : c.expected)
            EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
        for (const char* part : c.unexpected)
            EXPECT_EQ(report.find(part), std::string::npos) << part << "\n" << report;
    }
}

TEST_F(Shortcuts, LocalBasePathIsKeptInGbkBesideUtf16) {
    const fs::path file = scratch_ / "link.lnk";
    const std::string target = gbk("C:\\游戏\\登录器.exe");
    ASSERT_TRUE(pbshell::write_shortcut(file.string(), target, "", ""));
    const std::vector<uint8_t> bytes = read_bytes(file);
    const std::string content(bytes.begin(), bytes.end());
    EXPECT_NE(content.find(target + std::string(1, '\0')), std::string::npos);
    // CLSID and the flags HasLinkInfo | IsUnicode, nothing else.
    ASSERT_GE(bytes.size(), 76u);
    EXPECT_EQ(bytes[0], 0x4C);
    EXPECT_EQ(bytes[0x14], 0x82);
}

TEST_F(Shortcuts, ReplacesAnOldShortcutAndLeavesNoTemporaryFile) {
    const fs::path file = scratch_ / (gbk("星河") + ".lnk");
    ASSERT_TRUE(pbshell::write_shortcut(file.string(), "C:\\old.exe", "", ""));
    ASSERT_TRUE(pbshell::write_shortcut(file.string(), "C:\\new.exe", "", ""));
    // The shortcut's own path is GBK; Linux names it in UTF-8.
    const fs::path named = scratch_ / "星河.lnk";
    const std::string report = lnkinfo(named);
    EXPECT_NE(report.find(": C:\\new.exe\n"), std::string::npos) << report;
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 1);
}

TEST_F(Shortcuts, RefusesWhatItCannotWrite) {
    struct Case {
        const char* what;
        std::string path, target, comment;
    };
    const std::string file = (scratch_ / "x.lnk").string();
    const Case cases[] = {
        {"target that is not GBK", file, "C:\\\x81", ""},
        {"comment that is not GBK", file, "C:\\a.exe", "\xFF\xFF"},
        {"empty target", file, "", ""},
        {"empty path", "", "C:\\a.exe", ""},
        {"folder that does not exist", (scratch_ / "none" / "x.lnk").string(), "C:\\a.exe", ""},
        {"text longer than the format's count", file, "C:\\" + std::string(70000, 'a'), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(pbshell::write_shortcut(c.path, c.target, c.comment, ""));
    }
    EXPECT_TRUE(fs::is_empty(scratch_.path()));
}

// ---- drawing ----

using kernel::drawing::Drawing;
using kernel::drawing::GradientRect;
using kernel::drawing::UnitView;
using kernel::drawing::Vertex;

constexpr int64_t kCanvas = 0x20005;
constexpr int64_t kHidden = 0x30001;

struct DrawingFixture {
    std::vector<std::string> lines;
    Drawing drawing{[](int64_t window) -> std::optional<UnitView> {
                        if (window == kCanvas)
                            return UnitView{"画板1", 10, 5, true};
                        if (window == kHidden)
                            return UnitView{"画板2", 4, 4, false};
                        return std::nullopt;
                    },
                    [this](const std::string& line) { lines.push_back(line); }};
};

Vertex vertex(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
    return Vertex{x,
                  y,
                  static_cast<uint16_t>(r << 8),
                  static_cast<uint16_t>(g << 8),
                  static_cast<uint16_t>(b << 8),
                  0};
}

TEST(Drawing, GradientsPaintTheUnitsSurfaceFromFirstToLastColour) {
    DrawingFixture f;
    const int64_t dc = f.drawing.get_dc(kCanvas);
    ASSERT_NE(dc, 0);
    const GradientRect mesh[] = {{0, 1}};
    // Vertical: red rises from 0 by 255/5 a row; the rectangle runs past the
    // surface on the left and is cut there.
    const Vertex down[] = {vertex(-3, 0, 0, 10, 20), vertex(4, 5, 255, 10, 20)};
    ASSERT_TRUE(f.drawing.gradient_fill(dc, down, mesh, kernel::drawing::kGradientVertical));
    // Horizontal, given lower right first: colours still run left to right.
    const Vertex across[] = {vertex(10, 5, 0, 0, 240), vertex(4, 0, 0, 0, 0)};
    ASSERT_TRUE(f.drawing.gradient_fill(dc, across, mesh, kernel::drawing::kGradientHorizontal));
    const auto* surface = f.drawing.surface(kCanvas);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->width, 10);
    EXPECT_EQ(surface->height, 5);
    EXPECT_EQ(surface->pixel(0, 0), 0x140A00u);  // 0x00BBGGRR
    EXPECT_EQ(surface->pixel(3, 4), 0x140ACCu);  // 255 * 4 / 5 = 204
    EXPECT_EQ(surface->pixel(4, 2), 0x000000u);
    EXPECT_EQ(surface->pixel(9, 2), 0xC80000u);  // 240 * 5 / 6 = 200
    EXPECT_EQ(f.lines,
              (std::vector<std::string>{"unit-gradient 画板1 -3 0 7 5 vertical #000A14 #FF0A14",
                                        "unit-gradient 画板1 4 0 6 5 horizontal #000000 #0000F0"}));
}

TEST(Drawing, TheUnitsRegionClipsWhatIsPainted) {
    DrawingFixture f;
    const int64_t region = f.drawing.create_round_rect_region(0, 0, 10, 5, 6, 4);
    EXPECT_EQ(f.drawing.set_window_region(kCanvas, region), 1);
    const int64_t dc = f.drawing.get_dc(kCanvas);
    const Vertex flat[] = {vertex(0, 0, 1, 2, 3), vertex(10, 5, 1, 2, 3)};
    const GradientRect mesh[] = {{0, 1}};
    ASSERT_TRUE(f.drawing.gradient_fill(dc, flat, mesh, kernel::drawing::kGradientVertical));
    const auto* surface = f.drawing.surface(kCanvas);
    EXPECT_EQ(surface->pixel(0, 0), 0xFFFFFFu);  // corners stay as they were
    EXPECT_EQ(surface->pixel(9, 4), 0xFFFFFFu);
    EXPECT_EQ(surface->pixel(5, 2), 0x030201u);
    EXPECT_EQ(surface->pixel(0, 2), 0x030201u);
    EXPECT_EQ(f.lines.front(), "unit-region 画板1 round 0 0 10 5 6 4");
}

TEST(Drawing, HandlesAreCheckedAsTheSystemChecksThem) {
    DrawingFixture f;
    const GradientRect mesh[] = {{0, 1}};
    const GradientRect outside[] = {{0, 2}};
    const Vertex two[] = {vertex(0, 0, 0, 0, 0), vertex(2, 2, 9, 9, 9)};
    EXPECT_EQ(f.drawing.get_dc(0x99999), 0);  // no unit
    const int64_t dc = f.drawing.get_dc(kCanvas);
    EXPECT_FALSE(f.drawing.gradient_fill(dc, two, mesh, 2));  // triangles are not drawn
    EXPECT_FALSE(f.drawing.gradient_fill(dc, two, outside, 0));
    EXPECT_EQ(f.drawing.release_dc(kHidden, dc), 0);  // taken for another unit
    EXPECT_EQ(f.drawing.release_dc(kCanvas, dc), 1);
    EXPECT_EQ(f.drawing.release_dc(kCanvas, dc), 0);
    EXPECT_FALSE(f.drawing.gradient_fill(dc, two, mesh, 0));  // released

    // A region belongs to the unit it was given to.
    const int64_t region = f.drawing.create_round_rect_region(5, 5, 0, 0, 2, 2);
    EXPECT_EQ(f.drawing.set_window_region(kHidden, region), 1);
    EXPECT_EQ(f.drawing.set_window_region(kCanvas, region), 0);
    EXPECT_EQ(f.drawing.set_window_region(kCanvas, 0), 1);
    // The screen takes fills and keeps nothing.
    const int64_t screen = f.drawing.get_dc(0);
    EXPECT_TRUE(f.drawing.gradient_fill(screen, two, mesh, 0));
    // Nothing of the hidden unit was shown.
    EXPECT_EQ(f.lines, (std::vector<std::string>{"unit-region 画板1 none"}));
}

// ---- the folder dialog's steps ----

using kernel::automation::parse_script;
using kernel::automation::ScriptDriver;
using kernel::automation::StepKind;

TEST(FolderSteps, PathsKeepTheirTextAndMarkWhatGbkCannotHold) {
    auto steps = parse_script(
        "choose-folder D:\\游戏\ncancel-folder\nchoose-folder \"/srv/a b/星河😀\"\n"
        "choose-folder D:\\\n");
    ASSERT_FALSE(steps.is_error()) << steps.error();
    ASSERT_EQ(steps.value().size(), 4u);
    EXPECT_EQ(steps.value()[0].kind, StepKind::ChooseFolder);
    EXPECT_EQ(steps.value()[0].text, gbk("D:\\游戏"));
    EXPECT_EQ(steps.value()[1].kind, StepKind::CancelFolder);
    EXPECT_EQ(steps.value()[2].text, gbk("/srv/a b/星河?"));
    EXPECT_EQ(steps.value()[3].text, "D:\\");

    for (const char* wrong :
         {"choose-folder\n", "choose-folder \"\"\n", "cancel-folder x\n", "choose-folder a b\n"}) {
        SCOPED_TRACE(wrong);
        EXPECT_TRUE(parse_script(wrong).is_error());
    }
}

TEST(FolderSteps, TheDialogTakesTheNextStepOrFails) {
    auto steps = parse_script("choose-folder /a\ncancel-folder\nclick 按钮1\n");
    ASSERT_FALSE(steps.is_error());
    ScriptDriver driver(steps.release_value());
    auto chosen = driver.folder_choice(gbk("星河"));
    ASSERT_FALSE(chosen.is_error());
    EXPECT_EQ(chosen.value(), std::optional<std::string>("/a"));
    auto cancelled = driver.folder_choice("t");
    ASSERT_FALSE(cancelled.is_error());
    EXPECT_EQ(cancelled.value(), std::nullopt);
    auto other = driver.folder_choice(gbk("星河"));
    ASSERT_TRUE(other.is_error());
    EXPECT_EQ(other.error(),
              "the folder dialog \"星河\" is up, and the next step is not a folder choice: line 3 "
              "(click 按钮1)");

    ScriptDriver ended(std::vector<kernel::automation::Step>{});
    auto none = ended.folder_choice("t");
    ASSERT_TRUE(none.is_error());
    EXPECT_EQ(none.error(), "the folder dialog \"t\" is up, and the script has ended");
}

}  // namespace
