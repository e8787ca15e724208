// The backend with real windows under wine64 and the virtual display:
// pictures of a gallery of every unit type show what a person would notice —
// each unit at its place, in its colours, with its text. (The example
// application's scenario on real windows is one of its scenario tests.)
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/picture.h"
#include "tests/support/scenario.h"

namespace {

namespace fs = std::filesystem;
using test_support::System;

using test_support::Picture;
using test_support::read_png;
using test_support::Rgb;

bool near(Rgb a, Rgb b, int tolerance = 24) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// The share (0..1) of the pixels of a rectangle that are near `colour`.
double share(const Picture& p, int left, int top, int width, int height, Rgb colour,
             int tolerance = 24) {
    int hits = 0, all = 0;
    for (int y = top; y < top + height && y < p.height; ++y) {
        for (int x = left; x < left + width && x < p.width; ++x) {
            ++all;
            hits += near(p.at(x, y), colour, tolerance) ? 1 : 0;
        }
    }
    return all == 0 ? 0 : static_cast<double>(hits) / all;
}

// The client area's top left corner: the first pixel, row by row, of the
// window's background colour (the gallery puts no unit there).
std::pair<int, int> client_origin(const Picture& p, Rgb background) {
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            if (p.at(x, y).r == background.r && p.at(x, y).g == background.g &&
                p.at(x, y).b == background.b)
                return {x, y};
        }
    }
    return {-1, -1};
}

class RealWindows : public test_support::ScenarioTest {
  protected:
    fs::path gallery() { return program("gallery", {"iext", "HtmlView", "eCompress"}); }
};

const Rgb kBackground{0x20, 0x40, 0x80};  // the gallery window's 0x804020
const Rgb kWhite{255, 255, 255};
const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};
const Rgb kYellow{255, 255, 0};
const Rgb kFace{0xF0, 0xF0, 0xF0};
const Rgb kBlack{0, 0, 0};

const char* const kGalleryScript = R"(capture "gallery.png"
click 图形按钮1
capture "gallery-swapped.png"
click 透明标签1
click 按钮_模态
expect-window 52010002
close
close
)";

// Every unit type where its form puts it: the colours it has, and text
// where it shows some; a transparent label on the window's colour; the
// picture button's face swapped by the program; a modal window whose owner
// the system no longer lets take input.
TEST_P(RealWindows, EveryUnitTypeAsAPersonSeesIt) {
    auto result = run(gallery(), {.script = kGalleryScript});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.transcript, R"(window-open 0x52010001 "样品"
user-click 图形按钮1
unit-text 标签_报告 "换脸"
user-click 透明标签1
unit-text 标签_报告 "按下 75 10 0"
user-click 按钮_模态
window-open 0x52010002 "模态窗口"
unit-text 标签_结果 "主窗口可用 0"
user-close 0x52010002
window-close 0x52010002 "模态窗口"
unit-text 标签_报告 "模态结束"
user-close 0x52010001
window-close 0x52010001 "样品"
end 0
)");

    const Picture before = read_png(scenario().pictures() / "gallery.png");
    ASSERT_EQ(before.width, 420);
    ASSERT_EQ(before.height, 320);
    const auto [x0, y0] = client_origin(before, kBackground);
    ASSERT_GE(x0, 0);

    struct Check {
        const char* unit;
        int left, top, width, height;
        Rgb colour;
        double at_least;  // of the unit's pixels in that colour
        Rgb text;         // the colour of its text...
        int text_pixels;  // ...of which at least this many pixels show
    };
    const Check checks[] = {
        {"标签1", 10, 10, 100, 20, kYellow, 0.5, kRed, 5},
        {"编辑框1", 120, 10, 120, 24, kWhite, 0.5, kBlack, 5},
        {"按钮1", 250, 10, 80, 24, kFace, 0.3, kBlack, 5},
        // A group box frames what lies behind it.
        {"分组框1", 10, 40, 180, 70, kBackground, 0.3, kBlack, 5},
        {"单选框2", 100, 60, 80, 24, kFace, 0.3, kBlack, 5},
        {"列表框1", 200, 40, 120, 70, kWhite, 0.3, kBlack, 5},
        {"图片框1", 10, 120, 40, 40, kRed, 0.95, kRed, 0},
        {"画板1", 60, 120, 40, 40, kGreen, 0.95, kGreen, 0},
        {"超级链接框1", 110, 120, 100, 20, kFace, 0.3, kBlue, 5},
        {"图形按钮1", 220, 120, 40, 40, kBlue, 0.9, kBlue, 0},
        {"图片框_备用 (hidden)", 270, 120, 40, 40, kBackground, 0.95, kBackground, 0},
        {"透明标签1", 10, 170, 150, 20, kBackground, 0.5, kWhite, 5},
        {"超文本浏览框1", 170, 170, 100, 60, kWhite, 0.95, kWhite, 0},
        {"ZIP压缩1 (invisible)", 280, 170, 26, 26, kBackground, 0.95, kBackground, 0},
    };
    for (const Check& c : checks) {
        SCOPED_TRACE(c.unit);
        const int left = x0 + c.left, top = y0 + c.top;
        EXPECT_GE(share(before, left, top, c.width, c.height, c.colour), c.at_least);
        // Text is smoothed: its pixels lie around its colour.
        const double text = share(before, left, top, c.width, c.height, c.text, 96);
        EXPECT_GE(text * c.width * c.height, c.text_pixels);
    }

    // The program gave the picture button its other face.
    const Picture after = read_png(scenario().pictures() / "gallery-swapped.png");
    ASSERT_EQ(after.width, 420);
    EXPECT_GE(share(after, x0 + 220, y0 + 120, 40, 40, kGreen), 0.9);
}

// Alignment and scroll bars from the description on real controls: the style
// bits the system reports for each box (the program reads them), and where
// the labels put their texts.
TEST_P(RealWindows, AlignmentAndScrollBarsReachTheControls) {
    auto result = run(program("aligned"), {.script = "capture \"aligned.png\"\nclose\n"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    // Edit boxes: centre, none; right, none; left, both bars. The list box:
    // the horizontal bar its long row needs, no vertical one for two rows.
    EXPECT_EQ(result.transcript, R"(window-open 0x52010001 "对齐"
unit-text 标签_样式 "样式 1 0 2 0 0 3 1"
user-close 0x52010001
window-close 0x52010001 "对齐"
end 0
)");

    const Picture picture = read_png(scenario().pictures() / "aligned.png");
    const Rgb face{0xF0, 0xF0, 0xF0};
    const auto [x0, y0] = client_origin(picture, face);
    ASSERT_GE(x0, 0);
    // Dark text on yellow: its share in each third of the label.
    auto ink = [&](int left, int third) {
        int dark = 0;
        for (int y = y0 + 110; y < y0 + 130; ++y) {
            for (int x = x0 + left + third * 43; x < x0 + left + (third + 1) * 43; ++x) {
                const Rgb c = picture.at(x, y);
                dark += c.r + c.g + c.b < 300 ? 1 : 0;
            }
        }
        return dark;
    };
    EXPECT_EQ(ink(10, 0), 0);  // right: nothing on the left
    EXPECT_EQ(ink(10, 1), 0);
    EXPECT_GT(ink(10, 2), 5);
    EXPECT_EQ(ink(150, 0), 0);  // centre: only in the middle
    EXPECT_GT(ink(150, 1), 5);
    EXPECT_EQ(ink(150, 2), 0);
}

// Overlapping units as a person sees them: what a panel (a picture box)
// holds lies above it, whether the panel comes before or after its units in
// the form, and a button after an HTML view lies above the view, also once
// the view has been made again on the address its program gave it.
TEST_P(RealWindows, HeldAndLaterUnitsLieAbove) {
    auto result = run(program("stacked", {"HtmlView"}),
                      {.script = "capture \"stacked.png\"\nclick 按钮_关闭\n"
                                 "click 按钮_面板上\nclose\n"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.transcript, R"(window-open 0x52010001 "叠放"
unit-text 超文本浏览框_天气 "http://127.0.0.1:9/"
user-click 按钮_关闭
user-click 按钮_面板上
user-close 0x52010001
window-close 0x52010001 "叠放"
end 0
)");

    const Picture picture = read_png(scenario().pictures() / "stacked.png");
    const auto [x0, y0] = client_origin(picture, kBackground);
    ASSERT_GE(x0, 0);
    struct Check {
        const char* unit;
        int left, top, width, height;  // in the window's client area
        Rgb colour;
        double at_least;  // of the rectangle's pixels in that colour
        Rgb text;         // the colour of its text...
        int text_pixels;  // ...of which at least this many pixels show
    };
    const Check checks[] = {
        {"标签_面板上", 20, 20, 100, 20, kGreen, 0.5, kBlue, 5},
        {"按钮_面板上", 20, 60, 80, 24, kFace, 0.3, kBlack, 5},
        {"图片框_面板 beside them", 120, 20, 30, 80, kRed, 0.95, kRed, 0},
        {"标签_后面板上", 20, 130, 100, 20, kYellow, 0.5, kBlack, 5},
        {"图片框_后面板 beside it", 120, 130, 30, 40, kBlue, 0.95, kBlue, 0},
        {"按钮_关闭", 190, 50, 80, 24, kFace, 0.3, kBlack, 5},
        {"超文本浏览框_天气 beside it", 280, 20, 30, 80, kWhite, 0.95, kWhite, 0},
    };
    for (const Check& c : checks) {
        SCOPED_TRACE(c.unit);
        const int left = x0 + c.left, top = y0 + c.top;
        EXPECT_GE(share(picture, left, top, c.width, c.height, c.colour), c.at_least);
        const double text = share(picture, left, top, c.width, c.height, c.text, 96);
        EXPECT_GE(text * c.width * c.height, c.text_pixels);
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, RealWindows, ::testing::Values(System::win_x64_windows),
                         test_support::system_test_name);

// Without windows the same clicks reach the program: a click on the
// transparent label is its left button pressed in its middle; a picture
// asked for is not taken.
using Headless = RealWindows;

TEST_P(Headless, GalleryClicksReachTheProgram) {
    auto result = run(gallery(), {.script = "capture \"ignored.png\"\nclick 图形按钮1\n"
                                            "click 透明标签1\nclose\n"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.transcript, R"(window-open 0x52010001 "样品"
user-click 图形按钮1
unit-text 标签_报告 "换脸"
user-click 透明标签1
unit-text 标签_报告 "按下 75 10 0"
user-close 0x52010001
window-close 0x52010001 "样品"
end 0
)");
    EXPECT_FALSE(fs::exists(scenario().pictures() / "ignored.png"));
    EXPECT_FALSE(fs::exists(scenario().folder() / "ignored.png"));
}

// The keyboard's way through a window, without windows and on real ones:
// the focus a window opens with is the first tab stop that can take it once
// its creation has run, Tab and Shift+Tab go round the tab stops in the
// order of the form (the stacking of real windows is the reverse of it),
// and a window that comes to the front again after a modal one gives the
// focus back to the unit that had it.
using Keyboard = RealWindows;

TEST_P(Keyboard, TabFollowsTheFormAndSkipsWhatCannotTakeTheFocus) {
    auto result = run(program("focus"), {.script = R"(expect-focus 列表框_丁
tab
expect-focus 图形按钮_戊
tab
expect-focus 按钮_己
tab
expect-focus 列表框_丁
back-tab
expect-focus 按钮_己
back-tab
expect-focus 图形按钮_戊
tab
click 按钮_己
expect-focus 编辑框_子
back-tab
expect-focus 按钮_子
close
expect-focus 按钮_己
close
)"});
    EXPECT_EQ(result.exit_code, 0) << result.err << result.transcript;
    EXPECT_EQ(result.transcript, R"(window-open 0x52010001 "焦点"
unit-enabled 编辑框_甲 0
user-tab
unit-focus 图形按钮_戊
user-tab
unit-focus 按钮_己
user-tab
unit-focus 列表框_丁
user-back-tab
unit-focus 按钮_己
user-back-tab
unit-focus 图形按钮_戊
user-tab
unit-focus 按钮_己
user-click 按钮_己
window-open 0x52010002 "模态"
user-back-tab
unit-focus 按钮_子
user-close 0x52010002
window-close 0x52010002 "模态"
user-close 0x52010001
window-close 0x52010001 "焦点"
end 0
)");
}

TEST_P(Keyboard, AFocusThatIsNotThereIsReported) {
    auto result = run(program("focus"), {.script = "expect-focus 按钮_己\nclose\n"});
    EXPECT_EQ(result.exit_code, 3) << result.transcript;
    EXPECT_TRUE(result.contains("the focus is on 列表框_丁")) << result.transcript;
}

INSTANTIATE_TEST_SUITE_P(Systems, Keyboard,
                         ::testing::Values(System::linux_x64, System::win_x64,
                                           System::win_x64_windows),
                         test_support::system_test_name);

INSTANTIATE_TEST_SUITE_P(Systems, Headless, test_support::both_systems(),
                         test_support::system_test_name);

}  // namespace
