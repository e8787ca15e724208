// The crystal progress bar's rules on a recording platform: clamping,
// texts, placement, effects, colours and the gradients painted.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "updater/crystal_progress_bar.h"

namespace {

using updater::BarFont;
using updater::BarGradientRect;
using updater::BarPlatform;
using updater::BarVertex;
using updater::CrystalProgressBar;

constexpr uint32_t kWindow = 0x52010002;
constexpr uint32_t kHost = 0x16010017;
constexpr uint32_t kCopy = 0x16010029;
constexpr intptr_t kHostHandle = 0x30017;
constexpr intptr_t kCopyHandle = 0x30029;
constexpr intptr_t kDc = 0x41000000;

struct Recorder {
    int32_t host_width = 297, host_height = 20;
    int copies = 0;
    int dcs_out = 0;
    std::vector<std::string> calls;  // what a person would see, in order
    void clear() { calls.clear(); }
    std::vector<std::string> only(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& c : calls) {
            if (c.rfind(prefix, 0) == 0)
                out.push_back(c);
        }
        return out;
    }
};
Recorder* g_recorder;

std::string format(const char* pattern, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// 0x00BBGGRR as #RRGGBB.
std::string rgb(uint32_t c) {
    return format("#%02X%02X%02X", c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF);
}

const BarPlatform kPlatform = {
    [](uint32_t, uint32_t unit, int32_t* w, int32_t* h) {
        *w = unit == kHost ? g_recorder->host_width : g_recorder->host_width - 2;
        *h = unit == kHost ? g_recorder->host_height : g_recorder->host_height - 2;
    },
    [](uint32_t, uint32_t) {
        ++g_recorder->copies;
        return kCopy;
    },
    [](uint32_t, uint32_t unit, int32_t l, int32_t t, int32_t w, int32_t h) {
        g_recorder->calls.push_back(format("place %x %d %d %d %d", unit, l, t, w, h));
    },
    [](uint32_t, uint32_t unit) { g_recorder->calls.push_back(format("show %x", unit)); },
    [](uint32_t, uint32_t unit) { return unit == kHost ? kHostHandle : kCopyHandle; },
    [](uint32_t, uint32_t, BarFont* font) { *font = BarFont{}; },
    [](uint32_t, uint32_t unit, const BarFont& font) {
        g_recorder->calls.push_back(format("font %x %d", unit, font.size));
    },
    [](uint32_t, uint32_t unit, uint32_t colour) {
        g_recorder->calls.push_back(format("back %x %s", unit, rgb(colour).c_str()));
    },
    [](uint32_t, uint32_t, int32_t x, int32_t y, uint32_t colour, const char* text) {
        g_recorder->calls.push_back(format("text %d %d %s %s", x, y, rgb(colour).c_str(), text));
    },
    // Character cells: 6 pixels a byte, 12 high, twice as high in 18 points.
    [](const BarFont& font, const char* text, int32_t* w, int32_t* h) {
        *h = font.size == 18 ? 24 : 12;
        *w = static_cast<int32_t>(std::string(text).size()) * *h / 2;
    },
    [](intptr_t hwnd) {
        EXPECT_EQ(hwnd, kCopyHandle);
        ++g_recorder->dcs_out;
        return kDc;
    },
    [](intptr_t hwnd, intptr_t dc) -> intptr_t {
        EXPECT_EQ(hwnd, kCopyHandle);
        EXPECT_EQ(dc, kDc);
        --g_recorder->dcs_out;
        return 1;
    },
    [](int32_t l, int32_t t, int32_t r, int32_t b, int32_t cw, int32_t ch) -> intptr_t {
        g_recorder->calls.push_back(format("region %d %d %d %d %d %d", l, t, r, b, cw, ch));
        return 0x42000000;
    },
    [](intptr_t hwnd, intptr_t, bool redraw) -> intptr_t {
        g_recorder->calls.push_back(
            format("region-to %s %d", hwnd == kHostHandle ? "host" : "copy", redraw ? 1 : 0));
        return 1;
    },
    [](intptr_t dc, const BarVertex* v, uint32_t count, const BarGradientRect* r, uint32_t rects,
       uint32_t mode) -> intptr_t {
        EXPECT_EQ(dc, kDc);
        EXPECT_EQ(g_recorder->dcs_out, 1);
        EXPECT_EQ(count, 2u);
        EXPECT_EQ(rects, 1u);
        EXPECT_EQ(r->upper_left, 0u);
        EXPECT_EQ(r->lower_right, 1u);
        g_recorder->calls.push_back(format("gradient %d %d %d %d %s #%02X%02X%02X #%02X%02X%02X",
                                           v[0].x, v[0].y, v[1].x, v[1].y, mode == 1 ? "v" : "h",
                                           v[0].red >> 8, v[0].green >> 8, v[0].blue >> 8,
                                           v[1].red >> 8, v[1].green >> 8, v[1].blue >> 8));
        return 1;
    },
};

class ProgressBar : public ::testing::Test {
  protected:
    void SetUp() override { g_recorder = &recorder; }
    void TearDown() override { EXPECT_EQ(recorder.dcs_out, 0); }
    CrystalProgressBar& attached() {
        bar.Attach(kWindow, kHost);
        return bar;
    }
    Recorder recorder;
    CrystalProgressBar bar{kPlatform};
};

TEST_F(ProgressBar, AttachMakesTheDrawingCanvasOnePixelInsideWithRoundedRegions) {
    attached();
    EXPECT_EQ(recorder.copies, 1);
    EXPECT_EQ(recorder.calls[0], "place 16010029 1 1 295 18");
    EXPECT_EQ(recorder.calls[1], "show 16010029");
    const std::vector<std::string> regions = {"region 0 0 297 20 5 5", "region 0 0 295 18 5 5"};
    EXPECT_EQ(recorder.only("region "), regions);
    EXPECT_EQ(recorder.only("region-to "),
              (std::vector<std::string>{"region-to host 1", "region-to copy 1"}));
    EXPECT_EQ(bar.SetScheme(0, false), 8);
    EXPECT_EQ(bar.SetCaption(nullptr, false), std::string("水晶进度条-"));
    // Attached to the same canvas again, the bar keeps its drawing canvas.
    bar.Attach(kWindow, kHost);
    EXPECT_EQ(recorder.copies, 1);
}

// The wizard's bar: scheme 9 on a 297 x 20 canvas at position 50 of 100.
TEST_F(ProgressBar, WizardBarAtHalfway) {
    attached();
    bar.SetMaximum(100);
    recorder.clear();
    bar.SetScheme(9);
    const std::vector<std::string> expected = {
        "back 16010017 #BCB8BC",
        "back 16010029 #BCB8BC",
        "gradient 147 0 295 9 v #E7F3E8 #E1DBE1",
        "gradient 147 9 295 18 v #B3BDB3 #E2EEE2",
        "gradient 0 0 147 9 v #DFFBDF #6CFF6C",
        "gradient 0 9 147 18 v #1AE41A #D9F4D9",
        "text 141 3 #FFFFFF 50",
        "text 140 2 #000000 50",
    };
    EXPECT_EQ(recorder.calls, expected);
}

TEST_F(ProgressBar, FilledPartOnlyFromPositionOne) {
    attached();
    recorder.clear();
    bar.SetPosition(0);
    EXPECT_EQ(recorder.only("gradient ").size(), 2u);
    bar.SetMaximum(1000);
    recorder.clear();
    bar.SetPosition(1);  // 0.295 pixels: no width, still painted
    EXPECT_EQ(recorder.only("gradient "),
              (std::vector<std::string>{
                  "gradient 0 0 295 9 v #FAFDFE #E4F3FC", "gradient 0 9 295 18 v #C7E6F9 #EDF7FD",
                  "gradient 0 0 0 9 v #E1F7FF #43D0FF", "gradient 0 9 0 18 v #3F70E9 #3FE2F6"}));
}

TEST_F(ProgressBar, LimitsAreClamped) {
    struct Case {
        const char* what;
        void (*apply)(CrystalProgressBar&);
        int32_t minimum, maximum, position;
    } cases[] = {
        {"position above the maximum", [](CrystalProgressBar& b) { b.SetPosition(150); }, 0, 100,
         100},
        {"position below the minimum", [](CrystalProgressBar& b) { b.SetPosition(-5); }, 0, 100, 0},
        {"maximum 0", [](CrystalProgressBar& b) { b.SetMaximum(0); }, 0, 1, 1},
        {"maximum below 1", [](CrystalProgressBar& b) { b.SetMaximum(-7); }, 0, 1, 1},
        {"maximum not above the minimum",
         [](CrystalProgressBar& b) {
             b.SetMinimum(20);
             b.SetMaximum(10);
         },
         20, 21, 21},
        {"minimum equal to the maximum", [](CrystalProgressBar& b) { b.SetMinimum(100); }, 99, 100,
         99},
        {"minimum below 0", [](CrystalProgressBar& b) { b.SetMinimum(-3); }, 0, 100, 50},
        {"minimum above the maximum of 0",
         [](CrystalProgressBar& b) {
             b.SetMaximum(0);
             b.SetMinimum(5);
         },
         0, 1, 1},
        {"a read changes nothing",
         [](CrystalProgressBar& b) {
             EXPECT_EQ(b.SetPosition(80, false), 50);
             EXPECT_EQ(b.SetMaximum(3, false), 100);
             EXPECT_EQ(b.SetMinimum(70, false), 0);
         },
         0, 100, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CrystalProgressBar b(kPlatform);
        b.Attach(kWindow, kHost);
        c.apply(b);
        EXPECT_EQ(b.minimum(), c.minimum);
        EXPECT_EQ(b.maximum(), c.maximum);
        EXPECT_EQ(b.position(), c.position);
    }
}

TEST_F(ProgressBar, TextModes) {
    struct Case {
        int32_t mode, maximum, position;
        const char* text;  // "" for none
    } cases[] = {
        {1, 100, 50, "50"},   {2, 100, 50, "50.00%"},      {2, 3, 1, "33.33%"},
        {2, 3, 2, "66.66%"},  {2, 100, 150, "100.00%"},    {2, 7, 7, "100.00%"},
        {2, 100, 0, "0.00%"}, {3, 100, 10, "水晶进度条-"}, {4, 100, 50, ""},
        {0, 100, 50, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CrystalProgressBar b(kPlatform);
        b.Attach(kWindow, kHost);
        b.SetMaximum(c.maximum);
        b.SetPosition(c.position);
        recorder.clear();
        b.SetTextMode(c.mode);
        const auto texts = recorder.only("text ");
        if (c.text[0] == '\0') {
            EXPECT_TRUE(texts.empty());
        } else {
            ASSERT_EQ(texts.size(), 2u);
            EXPECT_EQ(texts.back().substr(texts.back().rfind(' ') + 1), c.text);
        }
    }
}

TEST_F(ProgressBar, TextPlaceInTheGrid) {
    // "50" is 12 x 12 on the 295 x 18 drawing canvas; 18 points is 24 x 24.
    struct Case {
        int32_t alignment;
        int32_t x, y;
    } cases[] = {{1, 1, 0},   {2, 1, 2},   {3, 1, 5},   {4, 140, 0}, {5, 140, 2}, {6, 140, 5},
                 {7, 280, 0}, {8, 280, 2}, {9, 280, 5}, {10, 0, 0},  {0, 0, 0}};
    attached();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.alignment);
        recorder.clear();
        bar.SetTextAlignment(c.alignment);
        EXPECT_EQ(recorder.only("text ").back(), format("text %d %d #000000 50", c.x, c.y));
    }
    // Measured in the bar's font: W/2 − tw/2 − 1 = 147.5 − 12 − 1, truncated.
    BarFont large;
    large.size = 18;
    bar.SetTextAlignment(5);
    recorder.clear();
    bar.SetFont(large);
    EXPECT_EQ(recorder.calls.front(), "font 16010029 18");
    EXPECT_EQ(recorder.only("text ").back(), "text 134 -4 #000000 50");
}

TEST_F(ProgressBar, TextEffects) {
    struct Case {
        int32_t effect;
        std::vector<std::string> texts;
    } cases[] = {
        {1, {"text 140 2 #0000FF 50"}},
        {2, {"text 139 1 #00FF00 50", "text 141 3 #808080 50", "text 140 2 #0000FF 50"}},
        {3, {"text 141 3 #00FF00 50", "text 139 2 #808080 50", "text 140 2 #0000FF 50"}},
        {4, {"text 141 2 #00FF00 50", "text 139 2 #00FF00 50", "text 140 2 #0000FF 50"}},
        {5, {"text 141 3 #00FF00 50", "text 140 2 #0000FF 50"}},
        {6, {}},
    };
    attached();
    bar.SetTextColour(0xFF0000);    // blue
    bar.SetEffectColour(0x00FF00);  // green
    for (const Case& c : cases) {
        SCOPED_TRACE(c.effect);
        recorder.clear();
        bar.SetTextEffect(c.effect);
        EXPECT_EQ(recorder.only("text "), c.texts);
    }
}

TEST_F(ProgressBar, DisabledBarIsGreyAndKeepsItsScheme) {
    attached();
    bar.SetScheme(9);
    bar.SetTextColour(0x0000FF);  // red
    recorder.clear();
    bar.SetEnabled(0);
    EXPECT_EQ(bar.SetScheme(0, false), 9);
    // #6CFF6C: (108 + 255 + 108) / 3 = 157.
    EXPECT_EQ(bar.colour(CrystalProgressBar::kFilledTopEnd), 0x9D9D9Du);
    for (int i = 0; i < CrystalProgressBar::kColourCount; ++i) {
        const uint32_t c = bar.colour(i);
        EXPECT_EQ(c & 0xFF, c >> 8 & 0xFF);
        EXPECT_EQ(c & 0xFF, c >> 16 & 0xFF);
    }
    EXPECT_EQ(recorder.calls.front(), "back 16010017 #BABABA");  // #BCB8BC
    EXPECT_EQ(recorder.only("text ").back(), "text 140 2 #555555 50");
    bar.SetEnabled(1);
    EXPECT_EQ(bar.colour(CrystalProgressBar::kFilledTopEnd), 0x6CFF6Cu);
}

TEST_F(ProgressBar, SchemeTenFromTrackAndFill) {
    attached();
    bar.SetTrackColour(0x102030);
    bar.SetFillColour(0xF00010);
    bar.SetScheme(10);
    const uint32_t expected[] = {0xC4D4E4, 0x425262, 0x102030, 0x607080, 0xFFB4C4,
                                 0xFF3242, 0xF00010, 0xFF5060, 0xF00010};
    for (int i = 0; i < CrystalProgressBar::kColourCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(bar.colour(i), expected[i]);
    }
    // An unlisted scheme keeps the table.
    bar.SetScheme(11);
    EXPECT_EQ(bar.colour(CrystalProgressBar::kFilledTopStart), 0xFFB4C4u);
}

TEST_F(ProgressBar, VerticalFillsTopToBottomWithLeftAndRightHalves) {
    attached();
    bar.SetScheme(9);
    recorder.clear();
    bar.SetOrientation(2);  // 50 of 100 on 18 rows: 9
    EXPECT_EQ(
        recorder.only("gradient "),
        (std::vector<std::string>{
            "gradient 0 9 147 18 h #E7F3E8 #E1DBE1", "gradient 147 9 295 18 h #B3BDB3 #E2EEE2",
            "gradient 0 0 147 9 h #DFFBDF #6CFF6C", "gradient 147 0 295 9 h #1AE41A #D9F4D9"}));
    recorder.clear();
    bar.SetOrientation(3);
    EXPECT_TRUE(recorder.only("gradient ").empty());
    EXPECT_EQ(recorder.only("text ").size(), 2u);
}

TEST_F(ProgressBar, CornerRadiusShapesBothCanvases) {
    attached();
    recorder.clear();
    EXPECT_EQ(bar.SetCornerRadius(9), 9);
    EXPECT_EQ(recorder.only("region "),
              (std::vector<std::string>{"region 0 0 297 20 9 9", "region 0 0 295 18 9 9"}));
}

TEST_F(ProgressBar, CaptionKeepsWholeCharacters) {
    attached();
    std::string gbk_like(200, '\xB0');  // double-byte characters throughout
    bar.SetCaption(gbk_like.c_str());
    const std::string kept = bar.SetCaption(nullptr, false);
    EXPECT_EQ(kept.size() % 2, 0u);
    EXPECT_LT(kept.size(), 128u);
}

TEST(ProgressBarParts, VerticesCarryChannelsTimes256) {
    BarVertex v[2];
    CrystalProgressBar::PackVertices(v, 1, 2, 3, 4, 0x00E8F3E7, 0x00FFFFFF);
    EXPECT_EQ(v[0].x, 1);
    EXPECT_EQ(v[1].y, 4);
    EXPECT_EQ(v[0].red, 0xE700);
    EXPECT_EQ(v[0].green, 0xF300);
    EXPECT_EQ(v[0].blue, 0xE800);
    EXPECT_EQ(v[1].red, 0xFF00);
    EXPECT_EQ(CrystalProgressBar::LightenColour(0x00F0F0F0, 50), 0x00FFFFFFu);
}

}  // namespace
