// The two texts the window model is made from, without running a program:
// unit properties as the description language writes them and the runtime
// reads them back, and automation scripts.
#include <gtest/gtest.h>

#include "base/encoding.h"
#include "contract/runtime_abi.h"
#include "image/link/description.h"
#include "runtime/kernel/automation/script.h"
#include "runtime/kernel/ui/icon_file.h"
#include "runtime/kernel/ui/model.h"
#include "runtime/kernel/ui/window_system.h"
#include "tests/support/test_support.h"

namespace {

using kernel::automation::parse_script;
using kernel::automation::Step;
using kernel::automation::StepKind;
using kernel::ui::initial_properties;
using kernel::ui::Properties;

const std::filesystem::path kPrograms =
    std::filesystem::path(SOURCE_DIR) / "tests" / "runtime" / "programs";

// The units of a one-window description whose units are given by `units`.
std::vector<image::Unit> units_of(const std::string& units) {
    auto parsed = image::link::parse_description(
        "window 52010001\n  unit 06010000 window \"\"\n" + units, kPrograms);
    EXPECT_FALSE(parsed.is_error()) << parsed.error();
    std::vector<image::Unit> out;
    if (parsed.is_error())
        return out;
    for (const auto& unit : parsed.value().windows[0].units)
        out.push_back(unit.unit);
    return out;
}

std::string gbk(const char* utf8) {
    return base::utf8_to_gbk(utf8).value();
}

TEST(FormItems, WhatTheDescriptionWritesTheRuntimeReads) {
    std::vector<image::Unit> units = units_of(
        "  unit 16010001 edit \"编辑框1\"\n"
        "    at 1 2 3 4\n"
        "    flags visible disabled focus\n"
        "    text \"第一行\\n第二行\"\n"
        "    font \"黑体\" 14 bold italic underline\n"
        "    text-colour 0x0000FF\n"
        "    back-colour 0x102030\n"
        "    read-only\n"
        "    multi-line\n"
        "  unit 16010002 list \"列表框1\"\n"
        "    selected 2\n"
        "    items \"甲\" \"\" \"丙\"\n"
        "  unit 16010003 radio \"单选框1\"\n"
        "    checked\n"
        "  unit 16010004 picture \"图片框1\"\n"
        "    picture \"pixel.bmp\"\n"
        "  unit 16010005 button \"按钮1\"\n"
        "  unit 16010006 picture-button \"图形按钮1\"\n"
        "    picture \"pixel.bmp\"\n"
        "    pressed-picture \"pixel.bmp\"\n");
    ASSERT_EQ(units.size(), 7u);

    Properties edit;
    edit.left = 1, edit.top = 2, edit.width = 3, edit.height = 4;
    edit.visible = true, edit.enabled = false, edit.focus = true;
    edit.text = gbk("第一行\n第二行");
    edit.font = {gbk("黑体"), 14, RT_FONT_BOLD | RT_FONT_ITALIC | RT_FONT_UNDERLINE};
    edit.text_colour = 0x0000FF;
    edit.back_colour = 0x102030;
    edit.read_only = edit.multi_line = true;

    Properties list;
    list.back_colour = 0xFFFFFF;
    list.items = {gbk("甲"), "", gbk("丙")};
    list.selection = 2;

    Properties radio;
    radio.back_colour = 0xF0F0F0;
    radio.checked = true;

    Properties picture;
    picture.back_colour = 0xF0F0F0;
    picture.picture = test_support::read_bytes(kPrograms / "pixel.bmp");

    // Without items: the defaults of its type.
    Properties button;
    button.back_colour = 0xF0F0F0;

    // A face for one state of its own; the others show the normal one.
    Properties picture_button = picture;
    picture_button.faces[kernel::ui::kFacePressed] = picture.picture;

    const Properties* expected[] = {&edit, &list, &radio, &picture, &button, &picture_button};
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        auto read = initial_properties(units[i + 1]);
        ASSERT_FALSE(read.is_error()) << read.error();
        EXPECT_EQ(read.value(), *expected[i]);
    }
}

// Where a text sits and which scroll bars a box has, as written and read.
TEST(FormItems, AlignmentAndScrollBars) {
    struct Case {
        const char* units;
        int32_t alignment;
        uint32_t scroll_bars;
    };
    const Case cases[] = {
        {"  unit 16010001 edit \"e\"\n", RT_ALIGN_LEFT, 0},
        {"  unit 16010001 edit \"e\"\n    align centre\n    scroll-bars horizontal\n",
         RT_ALIGN_CENTRE, RT_SCROLL_HORIZONTAL},
        {"  unit 16010001 edit \"e\"\n    align right\n    scroll-bars vertical horizontal\n",
         RT_ALIGN_RIGHT, RT_SCROLL_HORIZONTAL | RT_SCROLL_VERTICAL},
        {"  unit 16010001 label \"l\"\n    align right\n", RT_ALIGN_RIGHT, 0},
        {"  unit 16010001 label \"l\"\n    align left\n", RT_ALIGN_LEFT, 0},
        {"  unit 16010001 list \"l\"\n    scroll-bars vertical\n", RT_ALIGN_LEFT,
         RT_SCROLL_VERTICAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.units);
        std::vector<image::Unit> units = units_of(c.units);
        ASSERT_EQ(units.size(), 2u);
        auto read = initial_properties(units[1]);
        ASSERT_FALSE(read.is_error()) << read.error();
        EXPECT_EQ(read.value().alignment, c.alignment);
        EXPECT_EQ(read.value().scroll_bars, c.scroll_bars);
    }
}

TEST(FormItems, DescriptionsRefuseWhatNoUnitCanHold) {
    const std::pair<const char*, const char*> cases[] = {
        {"  unit 16010001 button \"b\"\n    items \"a\"\n", "does not belong"},
        {"  unit 16010001 list \"l\"\n    checked\n", "does not belong"},
        {"  unit 16010001 button \"b\"\n    read-only\n", "does not belong"},
        {"  unit 16010001 label \"l\"\n    picture \"pixel.bmp\"\n", "does not belong"},
        {"  unit 16010001 label \"l\"\n    text \"a\"\n    text \"b\"\n", "given twice"},
        {"  unit 16010001 label \"l\"\n    font \"f\" 9 wide\n", "unknown font style"},
        {"  unit 16010001 label \"l\"\n    font \"f\" 0\n", "expected a number from 1"},
        {"  unit 16010001 label \"l\"\n    text-colour 0x1000000\n", "expected a number"},
        {"  unit 16010001 edit \"e\"\n    read-only yes\n", "takes 0 value"},
        {"  unit 16010001 picture \"p\"\n    picture \"absent.bmp\"\n", "cannot read"},
        {"  unit 16010001 label \"l\"\n    u32 7\n", "unknown keyword u32"},
        {"  unit 16010001 button \"b\"\n    align centre\n", "does not belong"},
        {"  unit 16010001 label \"l\"\n    scroll-bars vertical\n", "does not belong"},
        {"  unit 16010001 edit \"e\"\n    align middle\n", "takes left, centre or right"},
        {"  unit 16010001 edit \"e\"\n    align \"left\"\n", "takes left, centre or right"},
        {"  unit 16010001 edit \"e\"\n    align\n", "takes 1 value"},
        {"  unit 16010001 edit \"e\"\n    scroll-bars\n", "horizontal, vertical or both"},
        {"  unit 16010001 edit \"e\"\n    scroll-bars vertical vertical\n",
         "horizontal, vertical or both"},
        {"  unit 16010001 list \"l\"\n    scroll-bars sideways\n", "horizontal, vertical or both"},
        {"  unit 16010001 label \"l\"\n    font \"f\" 9\n    font-pixels \"f\" 12\n",
         "in points or in pixels, not both"},
        {"  unit 16010001 label \"l\"\n    font-pixels \"f\" 0\n", "expected a number from 1"},
        {"  unit 16010001 label \"l\"\n    icon \"two.ico\"\n", "does not belong"},
        {"  unit 16010001 picture \"p\"\n    icon \"two.ico\"\n", "does not belong"},
    };
    for (const auto& [units, message] : cases) {
        SCOPED_TRACE(units);
        auto parsed = image::link::parse_description(
            std::string("window 52010001\n  unit 06010000 window \"\"\n") + units, kPrograms);
        ASSERT_TRUE(parsed.is_error());
        EXPECT_NE(parsed.error().find(message), std::string::npos) << parsed.error();
    }
}

// Every unit type and form item of the table, as the linker writes them and
// the runtime reads them back: a type reaches the same row through the
// program's library list on both sides, and an item is accepted by both on
// exactly the types with its facet. A row added on one side only (a keyword
// without its payload, a tag the model cannot read) fails here.
TEST(FormItems, LinkerAndRuntimeAgreeOnEveryRowOfTheTable) {
    // A value for every keyword: a new form item row needs one here.
    const std::pair<const char*, const char*> values[] = {
        {"text", " \"a\""},
        {"text-colour", " 1"},
        {"back-colour", " 2"},
        {"font", " \"f\" 9"},
        {"items", " \"a\" \"b\""},
        {"selected", " 1"},
        {"checked", ""},
        {"read-only", ""},
        {"multi-line", ""},
        {"picture", " \"pixel.bmp\""},
        {"align", " centre"},
        {"scroll-bars", " horizontal vertical"},
        {"hover-picture", " \"pixel.bmp\""},
        {"pressed-picture", " \"pixel.bmp\""},
        {"disabled-picture", " \"pixel.bmp\""},
        {"icon", " \"two.ico\""},
        {"font-pixels", " \"f\" 14"},
    };
    // Support libraries in an order of their own, so that positions matter.
    const std::string libraries = "library HtmlView\nlibrary iext\nlibrary eCompress\n";
    const std::vector<std::string> names = {"krnln", "HtmlView", "iext", "eCompress"};
    for (int t = 0; t < RT_UNIT_TYPE_COUNT; ++t) {
        const RtUnitTypeRow& type = rt_unit_type_rows()[t];
        for (int i = 0; i < RT_FORM_ITEM_COUNT; ++i) {
            const RtFormItemRow& item = rt_form_item_rows()[i];
            SCOPED_TRACE(std::string(type.name) + " with " + item.keyword);
            const char* value = nullptr;
            for (const auto& [keyword, text] : values) {
                if (std::string(keyword) == item.keyword)
                    value = text;
            }
            ASSERT_NE(value, nullptr) << "no value for the keyword";
            std::string unit = "  unit 16010001 " + std::string(type.name) + " \"u\"\n    " +
                               item.keyword + value + "\n";
            if (std::string(item.keyword) == "selected")
                unit += "    items \"a\" \"b\"\n";
            auto parsed = image::link::parse_description(
                libraries + "window 52010001\n  unit 06010000 window \"\"\n" + unit, kPrograms);
            const bool belongs = (type.facets & item.facets) != 0 || item.facets == 0;
            if (!belongs) {
                ASSERT_TRUE(parsed.is_error());
                EXPECT_NE(parsed.error().find("does not belong"), std::string::npos)
                    << parsed.error();
                continue;
            }
            ASSERT_FALSE(parsed.is_error()) << parsed.error();
            const image::Unit& linked = parsed.value().windows[0].units[1].unit;
            const RtUnitTypeRow* found = kernel::ui::find_unit_type(linked.type, names);
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(std::string(found->name), type.name);
            auto read = initial_properties(linked, found);
            EXPECT_FALSE(read.is_error()) << read.error();
        }
    }
}

// Forms the linker would not write, as a damaged or foreign image holds them.
TEST(FormItems, TheRuntimeRefusesDamagedItems) {
    const std::pair<const char*, const char*> cases[] = {
        {"  unit 16010001 label \"l\"\n    bytes 63\n", "unknown item 99"},
        {"  unit 16010001 label \"l\"\n    bytes 01 05000000 4142\n",
         "the text of 5 bytes runs past the end"},
        {"  unit 16010001 label \"l\"\n    bytes 01 030000\n", "the text runs past the end"},
        {"  unit 16010001 label \"l\"\n    bytes 01 02000000 4100\n", "holds a zero byte"},
        {"  unit 16010001 label \"l\"\n    bytes 07\n", "does not belong"},
        {"  unit 16010001 list \"l\"\n    bytes 07\n", "does not belong"},
        {"  unit 16010001 edit \"e\"\n    read-only\n    bytes 08\n", "comes twice"},
        {"  unit 16010001 list \"l\"\n    items \"a\"\n    selected 1\n",
         "the selected row 1 is not one of its 1 rows"},
        {"  unit 16010001 label \"l\"\n    bytes 04 00000000 00000000 00000000\n",
         "a font size of 0"},
        {"  unit 16010001 list \"l\"\n    bytes 05 FFFFFFFF\n", "an item runs past the end"},
        {"  unit 16010001 edit \"e\"\n    bytes 0B 03000000\n", "an alignment of 3"},
        {"  unit 16010001 list \"l\"\n    bytes 0C 04000000\n", "scroll bars 0x4"},
        {"  unit 16010001 list \"l\"\n    bytes 0B 01000000\n", "does not belong"},
        {"  unit 16010001 label \"l\"\n    bytes 11 00000000 00000000 00000000\n",
         "a font height of 0 pixels"},
        {"  unit 16010001 label \"l\"\n    bytes 04 09000000 00000000 00000000\n"
         "    bytes 11 0C000000 00000000 00000000\n",
         "both in points and in pixels"},
    };
    for (const auto& [units, message] : cases) {
        SCOPED_TRACE(units);
        std::vector<image::Unit> parsed = units_of(units);
        ASSERT_EQ(parsed.size(), 2u);
        auto read = initial_properties(parsed[1]);
        ASSERT_TRUE(read.is_error());
        EXPECT_NE(read.error().find(message), std::string::npos) << read.error();
    }
}

// A font by the height of its characters in pixels, as the launcher's
// controls have theirs: the program reads the nearest size in points, and a
// size it writes rules from then on. A window's icon is kept as its file.
TEST(FormItems, FontsInPixelsAndWindowIcons) {
    auto parsed = image::link::parse_description(
        "window 52010001\n  unit 06010000 window \"\"\n    icon \"two.ico\"\n"
        "  unit 16010001 label \"l\"\n    font-pixels \"宋体\" 14 underline\n"
        "  unit 16010002 label \"m\"\n    font-pixels \"宋体\" 12\n",
        kPrograms);
    ASSERT_FALSE(parsed.is_error()) << parsed.error();
    const auto& units = parsed.value().windows[0].units;
    auto window = initial_properties(units[0].unit);
    ASSERT_FALSE(window.is_error()) << window.error();
    EXPECT_EQ(window.value().icon, test_support::read_bytes(kPrograms / "two.ico"));
    struct Case {
        size_t unit;
        kernel::ui::Font font;
    };
    for (const Case& c :
         {Case{1, {gbk("宋体"), 11, RT_FONT_UNDERLINE, 14}}, Case{2, {gbk("宋体"), 9, 0, 12}}}) {
        auto read = initial_properties(units[c.unit].unit);
        ASSERT_FALSE(read.is_error()) << read.error();
        EXPECT_EQ(read.value().font, c.font);
    }
}

TEST(IconFiles, ImagesAndDamagedFiles) {
    const std::vector<uint8_t> file = test_support::read_bytes(kPrograms / "two.ico");
    auto images = kernel::ui::read_icon_file(file);
    ASSERT_FALSE(images.is_error()) << images.error();
    ASSERT_EQ(images.value().size(), 2u);
    EXPECT_EQ(images.value()[0].width, 2);
    EXPECT_EQ(images.value()[0].height, 2);
    EXPECT_EQ(images.value()[0].bits, 32);
    EXPECT_EQ(images.value()[1].width, 1);
    EXPECT_EQ(images.value()[1].bytes.data(), file.data() + 6 + 32 + 40 + 16 + 8);

    auto with = [&](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> changed = file;
        std::copy(bytes.begin(), bytes.end(), changed.begin() + static_cast<ptrdiff_t>(at));
        return changed;
    };
    std::vector<uint8_t> wide = with(6, {0, 0});  // 0 stands for 256
    EXPECT_EQ(kernel::ui::read_icon_file(wide).value()[0].width, 256);
    const std::pair<std::vector<uint8_t>, const char*> cases[] = {
        {std::vector<uint8_t>(file.begin(), file.begin() + 5), "an icon file of 5 bytes"},
        {with(2, {2, 0}), "not an icon file"},  // a cursor file
        {with(0, {1, 0}), "not an icon file"},
        {with(4, {0, 0}), "without images"},
        {with(4, {10, 0}), "the icon directory of 10 images runs past the end"},
        {with(6 + 8, {0xFF, 0, 0, 0}), "icon image 1 lies outside the file"},
        {with(6 + 16 + 12, {0x90, 0, 0, 0}), "icon image 2 lies outside the file"},
        {with(6 + 8, {0, 0, 0, 0}), "icon image 1 lies outside the file"},
    };
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(message);
        auto read = kernel::ui::read_icon_file(bytes);
        ASSERT_TRUE(read.is_error());
        EXPECT_NE(read.error().message().find(message), std::string::npos) << read.error();
    }
}

// A form whose units hold each other in a circle is refused before anything
// walks up the chain of holders (hiding, disabling, placing, clicking).
TEST(FormItems, HoldersGoingRoundInACircleAreRefused) {
    struct NoHost : kernel::ui::Host {
        void run_handler(uint32_t) override {}
        void run_mouse_handler(uint32_t, int32_t, int32_t, int32_t) override {}
        void fatal(const std::string&) override { std::abort(); }
        void automation_failure(const std::string&) override { std::abort(); }
        void end_program() override { std::abort(); }
        void* heap_new(uint32_t) override { return nullptr; }
        int64_t text_length(const void*) const override { return -1; }
        int64_t byte_array_length(const void*) const override { return -1; }
    } host;
    const std::pair<const char*, std::vector<uint32_t>> cases[] = {
        {"two units", {0x16010002, 0x16010001}},
        {"a unit holding itself", {0x16010001, 0}},
        {"three units", {0x16010002, 0x16010003, 0x16010001}},
    };
    for (const auto& [what, parents] : cases) {
        SCOPED_TRACE(what);
        std::vector<image::Window> forms(1);
        image::Window& window = forms[0];
        window.id = 0x52010001;
        window.units.push_back({.id = 0x06010000, .type = RT_UNIT_WINDOW});
        for (size_t i = 0; i < parents.size(); ++i)
            window.units.push_back({.id = 0x16010001 + static_cast<uint32_t>(i),
                                    .type = RT_UNIT_GROUP,
                                    .parent = parents[i]});
        auto system = kernel::ui::WindowSystem::create(forms, host);
        ASSERT_TRUE(system.is_error());
        EXPECT_NE(system.error().find("goes round in a circle"), std::string::npos)
            << system.error();
    }
    // Held by a group box that the window holds, or by the window's own record.
    std::vector<image::Window> forms(1);
    image::Window& fine = forms[0];
    fine.id = 0x52010001;
    fine.units.push_back({.id = 0x06010000, .type = RT_UNIT_WINDOW});
    fine.units.push_back({.id = 0x16010001, .type = RT_UNIT_GROUP, .parent = 0x06010000});
    fine.units.push_back({.id = 0x16010002, .type = RT_UNIT_RADIO, .parent = 0x16010001});
    EXPECT_FALSE(kernel::ui::WindowSystem::create(forms, host).is_error());
}

TEST(Script, StepsAsWritten) {
    auto steps = parse_script(
        "\xEF\xBB\xBF# a comment\n"
        "\n"
        "click 按钮1\r\n"
        "  type 编辑框1 \"第一\\n\\\"二\\\"\"  \n"
        "type \"名字 有空格\" \"\"\n"
        "select 列表框1 12\n"
        "answer ok\n"
        "answer cancel\n"
        "answer yes\n"
        "answer no\n"
        "close\n"
        "activate 0x52010002\n"
        "expect-window 52010003\n"
        "expect-text 标签1 \"共 2 个\"\n"
        "tab\n"
        "back-tab\n"
        "expect-focus 编辑框1");
    ASSERT_FALSE(steps.is_error()) << steps.error();
    struct Expected {
        StepKind kind;
        int line;
        const char* source;
        const char* unit;
        const char* text;
        int32_t row;
        uint32_t window;
        int32_t answer;
    };
    const Expected expected[] = {
        {StepKind::Click, 3, "click 按钮1", "按钮1", "", 0, 0, 0},
        {StepKind::Type, 4, "type 编辑框1 \"第一\\n\\\"二\\\"\"", "编辑框1", "第一\n\"二\"", 0, 0,
         0},
        {StepKind::Type, 5, "type \"名字 有空格\" \"\"", "名字 有空格", "", 0, 0, 0},
        {StepKind::Select, 6, "select 列表框1 12", "列表框1", "", 12, 0, 0},
        {StepKind::Answer, 7, "answer ok", "", "", 0, 0, RT_MB_ANSWER_OK},
        {StepKind::Answer, 8, "answer cancel", "", "", 0, 0, RT_MB_ANSWER_CANCEL},
        {StepKind::Answer, 9, "answer yes", "", "", 0, 0, RT_MB_ANSWER_YES},
        {StepKind::Answer, 10, "answer no", "", "", 0, 0, RT_MB_ANSWER_NO},
        {StepKind::Close, 11, "close", "", "", 0, 0, 0},
        {StepKind::Activate, 12, "activate 0x52010002", "", "", 0, 0x52010002, 0},
        {StepKind::ExpectWindow, 13, "expect-window 52010003", "", "", 0, 0x52010003, 0},
        {StepKind::ExpectText, 14, "expect-text 标签1 \"共 2 个\"", "标签1", "共 2 个", 0, 0, 0},
        {StepKind::Tab, 15, "tab", "", "", 0, 0, 0},
        {StepKind::BackTab, 16, "back-tab", "", "", 0, 0, 0},
        {StepKind::ExpectFocus, 17, "expect-focus 编辑框1", "编辑框1", "", 0, 0, 0},
    };
    ASSERT_EQ(steps.value().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const Step& step = steps.value()[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(e.source);
        EXPECT_EQ(step.kind, e.kind);
        EXPECT_EQ(step.line, e.line);
        EXPECT_EQ(step.source, e.source);
        EXPECT_EQ(step.unit, gbk(e.unit));  // names and texts as the image has them
        EXPECT_EQ(step.text, gbk(e.text));
        EXPECT_EQ(step.row, e.row);
        EXPECT_EQ(step.window, e.window);
        EXPECT_EQ(step.answer, e.answer);
    }
}

// A picture's file name is a name of the system, not a text of the image: it
// stays UTF-8.
TEST(Script, CaptureKeepsItsFileNameAsWritten) {
    auto steps = parse_script("capture \"主窗口 1.png\"\n");
    ASSERT_FALSE(steps.is_error()) << steps.error();
    ASSERT_EQ(steps.value().size(), 1u);
    EXPECT_EQ(steps.value()[0].kind, StepKind::Capture);
    EXPECT_EQ(steps.value()[0].text, "主窗口 1.png");
}

// A launcher that starts the updater passes on its environment, so both read
// one script: each takes the common steps and its own part, in order.
TEST(Script, ProgramPartsGoToTheirProgramOnly) {
    const char script[] =
        "answer ok\n"
        "program launcher.exe\n"
        "click 按钮1\n"
        "program \"Update.EXE\"\n"
        "answer yes\n"
        "program launcher.exe\n"
        "close\n";
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"launcher.exe", {"answer ok", "click 按钮1", "close"}},
        {"LAUNCHER.exe", {"answer ok", "click 按钮1", "close"}},
        {"update.exe", {"answer ok", "answer yes"}},
        {"update", {"answer ok"}},
        {"", {"answer ok"}},
    };
    for (const auto& [program, sources] : cases) {
        SCOPED_TRACE(program);
        auto steps = parse_script(script, program);
        ASSERT_FALSE(steps.is_error()) << steps.error();
        std::vector<std::string> got;
        for (const Step& step : steps.value())
            got.push_back(step.source);
        EXPECT_EQ(got, sources);
    }
}

TEST(Script, RefusedLinesAreNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {"clik 按钮1", "line 1: unknown step clik"},
        {"close\nclick", "line 2: click takes 1 value(s)"},
        {"close 52010001", "line 1: close takes 0 value(s)"},
        {"type 编辑框1 abc", "expected a quoted text, got abc"},
        {"type 编辑框1 \"abc", "a text without its closing quote"},
        {"type 编辑框1 \"a\\qb\"", "unknown escape \\q"},
        {"click \"\"", "an empty unit name"},
        {"click 按钮\xF0\x9F\x98\x80", "without a GBK form"},
        {"select 列表框1 -1", "expected a row number from 0, got -1"},
        {"select 列表框1 1x", "expected a row number from 0, got 1x"},
        {"answer maybe", "expected ok, cancel, yes or no, got maybe"},
        {"answer \"ok\"", "expected ok, cancel, yes or no"},
        {"activate 16010001", "expected a window identifier (52xxxxxx), got 16010001"},
        {"expect-window 5201000G", "expected a window identifier"},
        {"expect-window 152010001", "expected a window identifier"},
        {"capture main.png", "expected a quoted file name, got main.png"},
        {"capture \"\"", "expected a quoted file name"},
        {"program", "line 1: program takes a file name"},
        {"program a.exe b.exe", "program takes a file name"},
        {"program \"\"", "program takes a file name"},
        // A part for another program is checked all the same.
        {"program other.exe\nclik 按钮1", "line 2: unknown step clik"},
    };
    for (const auto& [script, message] : cases) {
        SCOPED_TRACE(script);
        auto steps = parse_script(script);
        ASSERT_TRUE(steps.is_error());
        EXPECT_NE(steps.error().find(message), std::string::npos) << steps.error();
    }
}

}  // namespace
