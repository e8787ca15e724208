// The image linker on real programs built with the SDK for both
// architectures, and on programs it must refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "base/byte_reader.h"
#include "contract/runtime_abi.h"
#include "image/bind/binder.h"
#include "image/format/image.h"
#include "image/link/description.h"
#include "image/link/elf_file.h"
#include "image/link/linker.h"
#include "image/link/program_header.h"
#include "tests/support/test_support.h"

namespace image::link {
namespace {

namespace fs = std::filesystem;
using test_support::read_bytes;
using test_support::read_text;

const fs::path kImages = NATIVE_BUILD_DIR "/images";
const fs::path kPrograms = SOURCE_DIR "/tests/image/programs";

ProgramDescription description(const std::string& name) {
    auto parsed = parse_description(read_text(kPrograms / name), kPrograms);
    if (parsed.is_error())
        throw std::runtime_error(parsed.error());
    return parsed.release_value();
}

struct Linked {
    std::vector<uint8_t> elf_bytes;
    Image image;
};

const ElfSymbol& symbol(const ElfFile& elf, const std::string& name) {
    for (const ElfSymbol& s : elf.symbols()) {
        if (s.name == name)
            return s;
    }
    throw std::runtime_error("no symbol " + name);
}

class ProbeImage : public ::testing::TestWithParam<const char*> {
  protected:
    std::string arch() const { return GetParam(); }
    bool wide() const { return arch() == "x86-64"; }
    std::vector<uint8_t> image_bytes() const {
        return read_bytes(kImages / ("probe-" + arch() + ".img"));
    }
    std::vector<uint8_t> elf_bytes() const {
        return read_bytes(kImages / ("probe-" + arch() + ".elf"));
    }
};

TEST_P(ProbeImage, LayoutOfCodeThunksAndLists) {
    std::vector<uint8_t> bytes = image_bytes();
    auto read = read_image(bytes);
    ASSERT_FALSE(read.is_error()) << read.error();
    const Image& image = read.value();
    EXPECT_EQ(image.architecture, wide() ? Architecture::X86_64 : Architecture::I386);
    EXPECT_EQ(base::load_le32(bytes.data() + 0x30), wide() ? 1u : 0u);

    // The slot thunks end the code, right behind the start routine.
    const size_t thunk_size = wide() ? 7 : 6;
    std::vector<uint32_t> slot_sites;
    for (const Fixup& fixup : image.code.fixups) {
        if (fixup.kind == FixupKind::SlotTable)
            slot_sites.push_back(fixup.offset);
    }
    std::sort(slot_sites.begin(), slot_sites.end());
    ASSERT_GE(slot_sites.size(), 10u);
    const size_t table = image.code.data.size() - slot_sites.size() * thunk_size;
    std::set<uint32_t> slots;
    for (size_t i = 0; i < slot_sites.size(); ++i) {
        const uint8_t* thunk = image.code.data.data() + table + i * thunk_size;
        if (wide()) {
            EXPECT_EQ((std::vector<uint8_t>{thunk[0], thunk[1], thunk[2]}),
                      (std::vector<uint8_t>{0xFF, 0x24, 0x25}));
        } else {
            EXPECT_EQ((std::vector<uint8_t>{thunk[0], thunk[1]}),
                      (std::vector<uint8_t>{0xFF, 0x25}));
        }
        uint32_t operand = base::load_le32(image.code.data.data() + slot_sites[i]);
        slots.insert(wide() ? operand / 2 : operand);
    }
    EXPECT_TRUE(slots.count(RT_SLOT_LOAD_WINDOW) && slots.count(RT_SLOT_SERVICE) &&
                slots.count(RT_SLOT_EXIT));

    auto elf = ElfFile::parse(elf_bytes());
    ASSERT_FALSE(elf.is_error());
    const ElfSection& code = elf.value().sections()[elf.value().find_section(".code")];
    const ElfSymbol& start = symbol(elf.value(), "rt_start");
    EXPECT_EQ(image.start_routine, start.value - code.address);
    EXPECT_EQ(image.start_routine + start.size, table);

    // Handlers point at their routines.
    const Unit& window_record = image.windows.at(0).units.at(0);
    ASSERT_EQ(window_record.events.size(), 1u);
    EXPECT_EQ(window_record.events[0].handler,
              symbol(elf.value(), "on_window_created").value - code.address);

    // Every marker site holds its value; each list names what it should.
    auto values = [&](const std::vector<uint32_t>& sites) {
        std::multiset<uint32_t> found;
        for (uint32_t site : sites)
            found.insert(base::load_le32(image.code.data.data() + site));
        return found;
    };
    auto identifiers = values(image.relocations.identifiers);
    EXPECT_GE(identifiers.count(0x52010001), 2u) << "the start routine's and the handler's";
    EXPECT_GE(identifiers.count(0x16010003), 1u);
    EXPECT_GE(identifiers.count(0x16010004), 1u);
    EXPECT_EQ(values(image.relocations.dll_numbers), std::multiset<uint32_t>{0});
    EXPECT_EQ(values(image.relocations.library_positions), std::multiset<uint32_t>{1});
    EXPECT_EQ(values(image.relocations.type_references), std::multiset<uint32_t>{0x00020001});
    EXPECT_EQ(image.next_free_id, 0x00010009u);

    // Method tables and module initialisers: code addresses in const.
    std::map<FixupKind, int> const_kinds, code_kinds;
    for (const Fixup& fixup : image.const_segment.fixups)
        ++const_kinds[fixup.kind];
    for (const Fixup& fixup : image.code.fixups)
        ++code_kinds[fixup.kind];
    EXPECT_GE(const_kinds[FixupKind::Code], 3);
    EXPECT_GE(code_kinds[FixupKind::Const], 4) << "text addresses";
    EXPECT_GE(code_kinds[FixupKind::Code], 1) << "the callback's and the release routine's address";
    if (!wide()) {
        EXPECT_GE(code_kinds[FixupKind::Var], 3) << "i386 reaches globals by absolute address";
    }
}

// Binding into a buffer at a chosen address, as the structural check of
// images that cannot run here.
class RecordingHost final : public BindHost {
  public:
    explicit RecordingHost(uint64_t address) : address_(address) {}
    std::optional<Placement> reserve(size_t size, Architecture) override {
        memory_.assign(size, 0xAA);
        return Placement{memory_.data(), address_};
    }
    bool protect(const Placement&, size_t offset, size_t size, Protection protection) override {
        protections_.push_back({offset, size, protection});
        return true;
    }
    void release(const Placement&, size_t) override {}
    uint64_t slot(size_t index) override { return 0x7000 + index * 0x10; }
    bool load_library(const LibraryEntry& library, size_t) override {
        libraries_.push_back(library.name);
        return true;
    }
    std::optional<uint64_t> resolve_dll(const DllDeclaration& declaration) override {
        return 0x9000 + declaration.function.size();
    }
    std::optional<uint32_t> rewrite_identifier(uint32_t id) override { return id ^ 0x00FF0000; }
    std::optional<uint32_t> rewrite_dll_number(uint32_t n) override { return n + 100; }
    std::optional<uint32_t> rewrite_library_position(uint32_t p) override { return p + 200; }
    std::optional<uint32_t> rewrite_type_reference(uint32_t t) override { return t + 300; }

    struct Protect {
        size_t offset, size;
        Protection protection;
    };
    std::vector<uint8_t> memory_;
    std::vector<Protect> protections_;
    std::vector<std::string> libraries_;

  private:
    uint64_t address_;
};

TEST_P(ProbeImage, BindsIntoABufferAtAChosenAddress) {
    std::vector<uint8_t> bytes = image_bytes();
    const Image image = read_image(bytes).release_value();
    const uint64_t base = wide() ? 0x10000000 : 0x00400000;
    RecordingHost host(base);
    auto bound = bind_image(bytes, host);
    ASSERT_FALSE(bound.is_error()) << bound.error();
    const BoundImage& b = bound.value();
    auto memory_at = [&](uint64_t address) { return host.memory_.data() + (address - base); };
    auto value_at = [&](uint64_t address) { return base::load_le32(memory_at(address)); };

    for (const Fixup& fixup : image.code.fixups) {
        const uint32_t stored = base::load_le32(image.code.data.data() + fixup.offset);
        uint64_t target = 0;
        switch (fixup.kind) {
            case FixupKind::SlotTable:
                target = b.slot_table_address;
                break;
            case FixupKind::Const:
                target = b.const_address;
                break;
            case FixupKind::Var:
                target = b.var_address;
                break;
            case FixupKind::Code:
                target = b.code_address;
                break;
        }
        EXPECT_EQ(value_at(b.code_address + fixup.offset), target + stored)
            << "code+" << fixup.offset;
    }
    for (const Fixup& fixup : image.const_segment.fixups) {
        const uint32_t stored = base::load_le32(image.const_segment.data.data() + fixup.offset);
        EXPECT_EQ(value_at(b.const_address + fixup.offset), b.code_address + stored);
    }
    for (uint32_t site : image.relocations.identifiers)
        EXPECT_EQ(value_at(b.code_address + site),
                  base::load_le32(image.code.data.data() + site) ^ 0x00FF0000);
    for (uint32_t site : image.relocations.type_references)
        EXPECT_EQ(value_at(b.code_address + site), 0x00020001u + 300);
    for (size_t i = 0; i < RT_SLOT_COUNT; ++i) {
        uint64_t entry = wide() ? base::load_le64(memory_at(b.slot_table_address + 8 * i))
                                : value_at(b.slot_table_address + 4 * i);
        EXPECT_EQ(entry, 0x7000 + i * 0x10);
    }
    EXPECT_EQ(host.libraries_, (std::vector<std::string>{"krnln", "eCompress"}));
    EXPECT_EQ(b.start_routine, b.code_address + image.start_routine);
    bool code_executable = false;
    for (const auto& p : host.protections_) {
        if (p.protection == Protection::ReadExecute)
            code_executable = p.offset == b.code_address - base;
    }
    EXPECT_TRUE(code_executable);
}

INSTANTIATE_TEST_SUITE_P(BothArchitectures, ProbeImage, ::testing::Values("i386", "x86-64"));

TEST(ImageLinker, RefusesWhatNoImageCanHold) {
    ProgramDescription minimal = description("minimal.desc");
    struct Case {
        const char* program;
        const char* message;
    };
    const Case cases[] = {
        {"bad_writable_data",
         "initialised writable data is not allowed in an image: g_initialised_counter"},
        {"bad_marker_in_const", "marker __rtm_id_52010001 used outside a 32-bit immediate in code"},
        {"bad_unknown_id", "unknown window or unit identifier in marker __rtm_id_52010099"},
        {"bad_undefined", "undefined symbol routine_defined_nowhere"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        std::vector<uint8_t> bytes = read_bytes(kImages / (std::string(c.program) + "-x86-64.elf"));
        auto elf = ElfFile::parse(bytes);
        ASSERT_FALSE(elf.is_error()) << elf.error();
        auto linked = link_image(elf.value(), minimal);
        ASSERT_TRUE(linked.is_error());
        EXPECT_NE(linked.error().find(c.message), std::string::npos) << linked.error();
    }
}

TEST(ImageLinker, RefusesAnUnknownRelocationTypeAndAMissingHandler) {
    std::vector<uint8_t> bytes = read_bytes(kImages / "probe-x86-64.elf");
    auto elf = ElfFile::parse(bytes);
    ASSERT_FALSE(elf.is_error());
    const ElfSection& rela = elf.value().sections()[elf.value().find_section(".rela.code")];
    const size_t at = rela.offset + 8;  // the first entry's info: type in the low half
    base::store_le32(bytes.data() + at, 42);
    auto patched = ElfFile::parse(bytes);
    ASSERT_FALSE(patched.is_error());
    auto linked = link_image(patched.value(), description("probe.desc"));
    ASSERT_TRUE(linked.is_error());
    EXPECT_NE(linked.error().find("unknown relocation type 42 at .code+"), std::string::npos)
        << linked.error();

    // A program linked with another description's form.
    auto other = link_image(ElfFile::parse(read_bytes(kImages / "minimal-x86-64.elf")).value(),
                            description("probe.desc"));
    ASSERT_TRUE(other.is_error());
    EXPECT_NE(other.error().find("not this description's form"), std::string::npos)
        << other.error();

    auto missing =
        link_image(ElfFile::parse(read_bytes(kImages / "missing_handler-x86-64.elf")).value(),
                   description("missing_handler.desc"));
    ASSERT_TRUE(missing.is_error());
    EXPECT_NE(missing.error().find("no routine named on_missing_routine"), std::string::npos)
        << missing.error();
}

TEST(ProgramDescription, ParsesAndRefuses) {
    auto good = parse_description(
        "library eCompress\n"
        "dll rect \"user32\" SetRect\n"
        "window 52010001 block 19010008\n"
        "  unit 06010000 window \"\"\n"
        "    at 1 2 3 4\n"
        "    flags visible focus\n"
        "    text \"标题\"\n"
        "  unit 16010001 group \"分组框1\"\n"
        "  unit 16010002 button \"按钮1\"  # a comment\n"
        "    parent 16010001\n"
        "    on 0 clicked\n"
        "  unit 16010003 zip \"ZIP压缩1\"\n",
        kPrograms);
    ASSERT_FALSE(good.is_error()) << good.error();
    const ProgramDescription& d = good.value();
    ASSERT_EQ(d.libraries.size(), 2u);
    EXPECT_EQ(d.libraries[0].name, "krnln");
    const Unit& window = d.windows[0].units[0].unit;
    EXPECT_EQ(window.flags, kUnitVisible | kUnitFocus);
    // The text item: its tag, then "标题" in GBK behind its length.
    EXPECT_EQ(window.properties, (std::vector<uint8_t>{1, 4, 0, 0, 0, 0xB1, 0xEA, 0xCC, 0xE2}));
    EXPECT_EQ(d.windows[0].units[2].unit.name,
              "\xB0\xB4\xC5\xA5"
              "1");
    EXPECT_EQ(d.windows[0].units[3].unit.type, 0x00020001u);
    auto windows =
        resolve_windows(d, [](const std::string&) -> std::optional<uint32_t> { return 0x40u; });
    ASSERT_FALSE(windows.is_error());
    EXPECT_EQ(windows.value()[0].units[1].children, std::vector<uint32_t>{0x16010002});
    EXPECT_EQ(windows.value()[0].units[2].events[0].handler, 0x40u);

    const std::pair<const char*, const char*> bad[] = {
        {"window 52010002\n  unit 06010000 window \"\"\n", "no start window"},
        {"window 52010001\n  unit 16010001 button \"b\"\n", "first unit is its own record"},
        {"window 52010001\n  unit 06010000 window \"x\"\n", "empty name"},
        {"window 52010001\n  unit 06010000 window \"\"\n  unit 16010001 zip \"z\"\n",
         "needs library eCompress"},
        {"window 52010001\n  unit 06010000 window \"\"\n  unit 16010001 label \"a\n",
         "closing quote"},
        {"window 52010001\n  unit 06010000 window \"\"\n  unit 06010000 label \"a\"\n", "class 16"},
        {"window 52010001\n  unit 06010000 window \"\"\n  unit 16010001 label \"a\"\n  unit "
         "16010001 label \"b\"\n",
         "used twice"},
        {"window 52010001\n  unit 06010000 window \"\"\n    parent 16010009\n",
         "parent is not a unit"},
        {"library nosuch\n", "unknown library"},
        {"window 52010001\n  unit 06010000 window \"\"\n    at 1 2 3\n", "takes 4 value"},
    };
    for (const auto& [text, message] : bad) {
        auto parsed = parse_description(text, kPrograms);
        ASSERT_TRUE(parsed.is_error()) << text;
        EXPECT_NE(parsed.error().find(message), std::string::npos) << parsed.error();
    }
}

// Code names, named events and the start window: what they parse to, the
// handles the header gives, and the mistakes each refuses with its line.
TEST(ProgramDescription, CodeNamesEventsAndTheStartWindow) {
    const std::string windows =
        "window 52010001\n"
        "  unit 06010000 window \"\"\n"
        "    name main_window\n"
        "    on create created\n"
        "    on closing closing\n"
        "  unit 16010001 list \"列表框1\"\n"
        "    name names_list\n"
        "    on select selected\n"
        "    on 2 selected_too\n"
        "  unit 16010002 edit \"编辑框1\"\n"
        "    name name_edit\n"
        "    on change changed\n"
        "  unit 16010003 picture-button \"图形按钮1\"\n"
        "    on press pressed\n"
        "    on click clicked\n"
        "window 52010002\n"
        "  unit 06010001 window \"\"\n"
        "    name second_window\n";
    auto good = parse_description("start 52010002\n" + windows, kPrograms);
    ASSERT_FALSE(good.is_error()) << good.error();
    const ProgramDescription& d = good.value();
    EXPECT_EQ(d.start_window, 0x52010002u);
    auto events = [&](size_t unit) {
        std::vector<int32_t> numbers;
        for (const EventDescription& e : d.windows[0].units[unit].events)
            numbers.push_back(e.event);
        return numbers;
    };
    EXPECT_EQ(events(0), (std::vector<int32_t>{RT_EVENT_MAIN, RT_EVENT_WINDOW_CLOSING}));
    EXPECT_EQ(events(1), (std::vector<int32_t>{RT_EVENT_SELECTION_CHANGED, 2}));
    EXPECT_EQ(events(2), (std::vector<int32_t>{RT_EVENT_CONTENT_CHANGED}));
    EXPECT_EQ(events(3), (std::vector<int32_t>{RT_EVENT_LEFT_BUTTON_DOWN, RT_EVENT_MAIN}));

    // Every named unit and window has a handle of its type; unnamed ones none.
    const std::string header = units_header(d, "sample");
    for (const char* expected :
         {"inline rt::Window main_window() {", "return rt::Window(RT_ID(52010001));",
          "inline rt::ListBox names_list() {",
          "return rt::ListBox(RT_ID(52010001), RT_ID(16010001));",
          "inline rt::EditBox name_edit() {", "inline rt::Window second_window() {"})
        EXPECT_NE(header.find(expected), std::string::npos) << expected << "\n" << header;
    EXPECT_EQ(header.find("16010003"), std::string::npos) << header;
    EXPECT_NE(start_window_source(d).find("return RT_ID(52010002);"), std::string::npos);

    // Without a start item, window 52010001 is the start window.
    auto by_default = parse_description(windows, kPrograms);
    ASSERT_FALSE(by_default.is_error()) << by_default.error();
    EXPECT_EQ(by_default.value().start_window, 0x52010001u);

    const std::string unit =
        "window 52010001\n  unit 06010000 window \"\"\n  unit 16010001 edit \"e\"\n";
    const std::pair<std::string, const char*> bad[] = {
        {unit + "    on clicked handler\n", "line 4: unknown event clicked"},
        {unit + "    on \"click\" handler\n", "line 4: unknown event click"},
        {unit + "    name box\n  unit 16010002 edit \"f\"\n    name box\n",
         "line 6: the code name box is used twice"},
        {unit + "    name box\n    name other\n", "line 5: the unit has a code name already"},
        {unit + "    name 2box\n", "line 4: the code name 2box is not an identifier"},
        {unit + "    name 名字\n", "is not an identifier"},
        {unit + "    name edit-box\n", "is not an identifier"},
        {unit + "    name class\n", "the code name class is not an identifier"},
        {unit + "    name __box\n", "is not an identifier"},
        {"start 52010003\n" + unit, "line 1: no start window"},
        {"start 52010001\nstart 52010001\n" + unit, "line 2: the start window is named twice"},
        {"start 16010001\n" + unit, "line 1: no start window"},
        {"window 52010002\n  unit 06010000 window \"\"\n",
         "no start window: name one with 'start'"},
    };
    for (const auto& [text, message] : bad) {
        auto parsed = parse_description(text, kPrograms);
        ASSERT_TRUE(parsed.is_error()) << text;
        EXPECT_NE(parsed.error().find(message), std::string::npos) << parsed.error();
    }
}

}  // namespace
}  // namespace image::link
