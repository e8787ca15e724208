// The program image: round trips, the byte positions that matter, and the
// reader's and writer's refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include "base/byte_reader.h"
#include "image/format/image.h"

namespace image {
namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes& bytes, size_t offset, uint32_t value) {
    base::store_le32(bytes.data() + offset, value);
}

uint32_t at(const Bytes& bytes, size_t offset) {
    return base::load_le32(bytes.data() + offset);
}

Bytes text_bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

bool contains(const Bytes& bytes, std::string_view text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// Code data offsets used by the fixture.
constexpr uint32_t kCodeSize = 0xC0;
constexpr uint32_t kButtonHandler = 0x80;
constexpr uint32_t kStart = 0xA0;

// A small but complete program: two windows, two DLL declarations (one
// without a library name), the kernel library and one more, fixups of every
// kind out of address order, and all four relocation lists.
Image sample_image(Architecture architecture = Architecture::I386) {
    Image image;
    image.architecture = architecture;
    image.next_free_id = 0x00010009;
    image.start_routine = kStart;
    image.dlls = {{"user32", "MessageBoxA"}, {"", "GetTickCount"}};
    image.libraries = {*known_library("krnln"), *known_library("eCompress")};

    // Const: a two-entry method table of code offsets, then a text.
    Bytes& constants = image.const_segment.data;
    constants.assign(0x10, 0);
    put(constants, 0x00, 0x90);
    put(constants, 0x04, 0x80);
    std::copy_n("abc", 3, constants.begin() + 0x08);
    image.const_segment.fixups = {{0x04, FixupKind::Code}, {0x00, FixupKind::Code}};

    Bytes& code = image.code.data;
    code.assign(kCodeSize, 0x90);
    put(code, 0x20, 0x08);  // const text
    put(code, 0x08, 0x10);  // slot
    put(code, 0x30, 0x08);  // var
    put(code, 0x10, 0x40);  // code
    put(code, 0x28, 0x30);  // slot
    put(code, 0x18, 0x10);  // const: the first DLL library name, past the model's const data
    image.code.fixups = {
        {0x20, FixupKind::Const}, {0x08, FixupKind::SlotTable}, {0x30, FixupKind::Var},
        {0x10, FixupKind::Code},  {0x28, FixupKind::SlotTable}, {0x18, FixupKind::Const},
    };
    image.var_size = 0x20;

    put(code, 0x60, 0x52010001);
    put(code, 0x64, 0x16010004);
    put(code, 0x68, 0);
    put(code, 0x6C, 1);
    put(code, 0x70, 1);
    put(code, 0x74, 0x00010006);
    put(code, 0x78, 0x00010007);
    image.relocations = {{0x60, 0x64}, {0x68, 0x6C}, {0x70}, {0x74, 0x78}};

    Unit own;
    own.id = 0x06010003;
    own.type = 0x00010001;
    own.width = 320;
    own.height = 240;
    own.children = {0x16010004, 0x16010005};
    own.flags = kUnitVisible;
    own.properties = {1, 2, 3};

    Unit button;
    button.id = 0x16010004;
    button.type = 0x00010006;
    button.name =
        "\xb0\xb4\xc5\xa5"
        "1";  // 按钮1
    button.left = 10;
    button.top = 20;
    button.width = 80;
    button.height = 24;
    button.flags = kUnitVisible | kUnitFocus;
    button.events = {{0, kButtonHandler}};
    button.properties = {0xAA, 0xBB};

    Unit edit;
    edit.id = 0x16010005;
    edit.type = 0x00010007;
    edit.name =
        "\xb1\xe0\xbc\xad\xbf\xf2"
        "1";  // 编辑框1
    edit.left = 10;
    edit.top = 60;
    edit.width = 200;
    edit.height = 22;
    edit.flags = kUnitVisible | kUnitDisabled;
    edit.events = {{-1, 0x90}};
    edit.properties = {4, 0, 0, 0, 0xc4, 0xe3, 0xba, 0xc3, 1, 0, 0, 0};  // u32 length, 你好, u32

    Window main_window;
    main_window.id = 0x52010001;
    main_window.block_id = 0x19010002;
    main_window.units = {own, button, edit};

    Unit own_2;
    own_2.id = 0x06010007;
    own_2.type = 0x00010001;
    own_2.width = 100;
    own_2.height = 50;
    own_2.children = {0x16010008};

    Unit label;
    label.id = 0x16010008;
    label.type = 0x00010002;
    label.name =
        "\xb1\xea\xc7\xa9"
        "1";  // 标签1
    label.left = -8;
    label.top = -1;
    label.width = 60;
    label.height = 16;
    label.flags = kUnitVisible;
    label.properties = {7, 7, 7, 7, 7};

    Window second_window;
    second_window.id = 0x52010006;
    second_window.table_reserved = 7;
    second_window.block_reserved = 0x11223344;
    second_window.units = {own_2, label};

    image.windows = {main_window, second_window};
    return image;
}

Image minimal_image() {
    Image image;
    image.libraries = {*known_library("krnln")};
    image.code.data = {0xC3, 0, 0, 0};
    return image;
}

Bytes written(const Image& image) {
    auto bytes = write_image(image);
    EXPECT_FALSE(bytes.is_error()) << bytes.error();
    return bytes.is_error() ? Bytes{} : bytes.release_value();
}

// Where a segment of a written image lies.
struct SegmentSpot {
    size_t header;
    size_t data;
    uint32_t stored;
    uint32_t fixups;
};

SegmentSpot segment(const Bytes& bytes, SegmentIndex index) {
    size_t header = at(bytes, 0x24);
    for (size_t i = 0; i < index; ++i)
        header = at(bytes, header + 4);
    return {header, header + at(bytes, header), at(bytes, header + 40), at(bytes, header + 48)};
}

TEST(ImageRoundTrip, WriteReadWriteGivesTheSameModelAndBytes) {
    struct Case {
        const char* what;
        Image image;
    };
    const Case cases[] = {
        {"i386 sample", sample_image(Architecture::I386)},
        {"x86-64 sample", sample_image(Architecture::X86_64)},
        {"no windows, DLLs or fixups", minimal_image()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes bytes = written(c.image);
        auto read = read_image(bytes);
        ASSERT_FALSE(read.is_error()) << read.error();
        EXPECT_EQ(read.value(), c.image);
        EXPECT_EQ(written(read.value()), bytes);
    }
}

TEST(ImageLayout, HeaderFields) {
    for (Architecture architecture : {Architecture::I386, Architecture::X86_64}) {
        SCOPED_TRACE(static_cast<int>(architecture));
        const Bytes bytes = written(sample_image(architecture));
        EXPECT_EQ(bytes[0], 'W');
        EXPECT_EQ(bytes[1], 'J');
        EXPECT_TRUE(
            std::all_of(bytes.begin() + 2, bytes.begin() + 0x24, [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(at(bytes, 0x28), 1u);
        EXPECT_EQ(at(bytes, 0x2C), 3u);
        EXPECT_EQ(at(bytes, 0x30), static_cast<uint32_t>(architecture));
        EXPECT_EQ(at(bytes, 0x34), 0x00010009u);
        EXPECT_EQ(at(bytes, 0x38), 2u);
        EXPECT_EQ(at(bytes, 0x3C), kStart);
        EXPECT_EQ(at(bytes, 0x54), at(bytes, 0x24));
        EXPECT_EQ(at(bytes, 0x24), segment(bytes, kConstSegment).header);
        for (size_t i = 0; i < 5; ++i)
            EXPECT_EQ(at(bytes, 0x40 + 4 * i), segment(bytes, SegmentIndex(i)).header) << i;
    }
}

TEST(ImageLayout, DllNamesEndConstDataInDeclarationOrder) {
    const Bytes bytes = written(sample_image());
    const SegmentSpot constants = segment(bytes, kConstSegment);
    const std::string_view tail("user32\0MessageBoxA\0\0GetTickCount\0", 33);
    ASSERT_EQ(constants.stored, 0x10 + tail.size());
    EXPECT_EQ(Bytes(bytes.begin() + constants.data + 0x10,
                    bytes.begin() + constants.data + constants.stored),
              text_bytes(tail));
    // Library-name offsets, then function-name offsets, into const data.
    EXPECT_EQ(at(bytes, 0x58), 0x10u);
    EXPECT_EQ(at(bytes, 0x5C), 0x10u + 19);
    EXPECT_EQ(at(bytes, 0x60), 0x10u + 7);
    EXPECT_EQ(at(bytes, 0x64), 0x10u + 20);
    EXPECT_EQ(bytes[0x68], 'k');  // the library list follows the tables
}

TEST(ImageLayout, WithoutDllDeclarationsTheLibraryListStartsTheTables) {
    Image image = sample_image();
    image.dlls.clear();
    image.relocations.dll_numbers.clear();
    put(image.code.data, 0x18, 0x08);  // that const fixup pointed at a DLL name
    const Bytes bytes = written(image);
    EXPECT_EQ(at(bytes, 0x38), 0u);

    std::string list = "krnln\rd09f2340818511d396f6aaf844c7e325\r4\r6\r";
    list += known_library("krnln")->description;
    list += '\0';
    list += "eCompress\r7B68736E818E41c5A28B0AE4D43C128C\r1\r1\r";
    list += known_library("eCompress")->description;
    list += '\0';
    list += '\0';
    EXPECT_EQ(Bytes(bytes.begin() + 0x58, bytes.begin() + 0x58 + list.size()), text_bytes(list));
    EXPECT_EQ(at(bytes, 0x24), 0x58 + list.size());

    const SegmentSpot relocations = segment(bytes, kRelocSegment);
    EXPECT_EQ(at(bytes, relocations.data), 2u);
    EXPECT_EQ(at(bytes, relocations.data + 12), 0u);  // list 2
    EXPECT_EQ(at(bytes, relocations.data + 16), 1u);  // list 3
}

TEST(ImageLayout, LibraryIdentifierKeepsItsLetterCase) {
    const Bytes bytes = written(sample_image());
    EXPECT_TRUE(contains(bytes, "\rd09f2340818511d396f6aaf844c7e325\r"));
    EXPECT_TRUE(contains(bytes, "\r7B68736E818E41c5A28B0AE4D43C128C\r"));
    auto read = read_image(bytes);
    ASSERT_FALSE(read.is_error()) << read.error();
    EXPECT_EQ(read.value().libraries[1].identifier, "7B68736E818E41c5A28B0AE4D43C128C");
}

TEST(ImageLayout, SegmentChain) {
    const Bytes bytes = written(sample_image());
    struct Expected {
        const char* name;
        uint32_t flags;
        uint32_t fixups;
    };
    const Expected expected[kSegmentCount] = {
        {"const", 1, 2}, {"form", 1, 0},   {"help", 1, 0},
        {"code", 5, 6},  {"var", 0x13, 0}, {"@reloc1", 1, 0},
    };
    for (size_t i = 0; i < kSegmentCount; ++i) {
        SCOPED_TRACE(expected[i].name);
        const SegmentSpot spot = segment(bytes, SegmentIndex(i));
        char name[SegmentHeader::kNameSize] = {};
        std::copy_n(expected[i].name, std::strlen(expected[i].name), name);
        EXPECT_TRUE(std::equal(name, name + sizeof name, bytes.begin() + spot.header + 12));
        EXPECT_EQ(at(bytes, spot.header + 8), expected[i].flags);
        EXPECT_EQ(spot.fixups, expected[i].fixups);
        EXPECT_EQ(at(bytes, spot.header), 56 + 4 * expected[i].fixups);
        EXPECT_EQ(at(bytes, spot.header + 52), 0u);
        if (i != kVarSegment) {
            EXPECT_EQ(at(bytes, spot.header + 44), spot.data);
            EXPECT_EQ(at(bytes, spot.header + 36), spot.stored);
        }
        const uint32_t next = at(bytes, spot.header + 4);
        if (i + 1 < kSegmentCount)
            EXPECT_EQ(next, spot.data + spot.stored);
        else
            EXPECT_EQ(next, 0xFFFFFFFFu);
    }

    const SegmentSpot help = segment(bytes, kHelpSegment);
    EXPECT_EQ(help.stored, 52u);
    EXPECT_EQ(help.data, help.header + 56);
    EXPECT_TRUE(std::all_of(bytes.begin() + help.data, bytes.begin() + help.data + 52,
                            [](uint8_t b) { return b == 0; }));

    const SegmentSpot var = segment(bytes, kVarSegment);
    EXPECT_EQ(at(bytes, var.header + 36), 0x20u);
    EXPECT_EQ(var.stored, 0u);
    EXPECT_EQ(at(bytes, var.header + 44), 0xFFFFFFFFu);
    EXPECT_EQ(at(bytes, var.header + 4), var.header + 56);

    // Fixups in stored order, not sorted: offset * 8 + kind.
    const SegmentSpot code = segment(bytes, kCodeSegment);
    EXPECT_EQ(at(bytes, code.header + 56), 0x20u * 8 + 1);
    EXPECT_EQ(at(bytes, code.header + 60), 0x08u * 8 + 0);
    const SegmentSpot constants = segment(bytes, kConstSegment);
    EXPECT_EQ(at(bytes, constants.header + 56), 0x04u * 8 + 3);

    const SegmentSpot relocations = segment(bytes, kRelocSegment);
    EXPECT_EQ(relocations.data + relocations.stored, bytes.size());
}

// The records of one window block of an encoded form, by walking its offsets.
std::vector<Bytes> records_of(const Bytes& form, size_t window) {
    const size_t windows = at(form, 0) / 8;
    size_t block = 4 + 8 * windows;
    for (size_t i = 0; i < window; ++i)
        block += 24 + at(form, block + 20);
    const size_t count = at(form, block + 16);
    const size_t records = block + 24 + 8 * count;
    std::vector<Bytes> out;
    for (size_t j = 0; j < count; ++j) {
        const size_t record = records + at(form, block + 24 + 4 * count + 4 * j);
        out.emplace_back(form.begin() + record + 4, form.begin() + record + 4 + at(form, record));
    }
    return out;
}

TEST(FormLayout, WindowTableAndBlocks) {
    const Image image = sample_image();
    const Bytes form = encode_form(image.windows);
    EXPECT_EQ(at(form, 0), 16u);
    EXPECT_EQ(at(form, 4), 0x52010001u);
    EXPECT_EQ(at(form, 8), 0x52010006u);
    EXPECT_EQ(at(form, 12), 0u);
    EXPECT_EQ(at(form, 16), 7u);

    const size_t block = 20;
    EXPECT_EQ(at(form, block + 4), 0x19010002u);
    EXPECT_EQ(at(form, block + 16), 3u);
    EXPECT_EQ(at(form, block + 24), 0x06010003u);  // the window's own record first
    EXPECT_EQ(at(form, block + 36), 0u);           // its record offset
    const size_t second_block = block + 24 + at(form, block + 20);
    EXPECT_EQ(at(form, second_block), 0x11223344u);
    EXPECT_EQ(second_block + 24 + at(form, second_block + 20), form.size());

    const std::vector<Bytes> main_records = records_of(form, 0);
    ASSERT_EQ(main_records.size(), 3u);
    const Bytes& own = main_records[0];
    EXPECT_EQ(at(own, 0), 0x00010001u);
    EXPECT_EQ(own[24], 0);  // empty name
    EXPECT_EQ(own[25], 0);  // empty second text

    const Bytes& button = main_records[1];
    EXPECT_EQ(Bytes(button.begin() + 24, button.begin() + 31), text_bytes({"\xb0\xb4\xc5\xa5"
                                                                           "1\0\0",
                                                                           7}));
    // ... event count 1, (event 0, handler), then the properties.
    const Bytes button_tail(button.end() - 14, button.end());
    EXPECT_EQ(at(button_tail, 0), 1u);
    EXPECT_EQ(at(button_tail, 4), 0u);
    EXPECT_EQ(at(button_tail, 8), kButtonHandler);
    EXPECT_EQ(Bytes(button_tail.begin() + 12, button_tail.end()), (Bytes{0xAA, 0xBB}));
    // The fixed field: after the texts, a zero word, 4 x i32, a zero word, parent, no children.
    EXPECT_EQ(at(button, 24 + 7 + 4 + 16 + 4 + 4 + 4), 4u);

    const std::vector<Bytes> second_records = records_of(form, 1);
    ASSERT_EQ(second_records.size(), 2u);
    const Bytes& label = second_records[1];
    // A unit without events: count 0, then its properties end the record.
    const Bytes label_tail(label.end() - 9, label.end());
    EXPECT_EQ(label_tail, (Bytes{0, 0, 0, 0, 7, 7, 7, 7, 7}));
    EXPECT_EQ(at(label, 24 + 7 + 4), static_cast<uint32_t>(-8));  // left, signed
}

TEST(FormLayout, DecodesWhatItEncodes) {
    const Image image = sample_image();
    auto windows = decode_form(encode_form(image.windows));
    ASSERT_FALSE(windows.is_error()) << windows.error();
    EXPECT_EQ(windows.value(), image.windows);
    auto empty = decode_form(encode_form({}));
    ASSERT_FALSE(empty.is_error()) << empty.error();
    EXPECT_TRUE(empty.value().empty());
}

TEST(ImageReader, RejectsCorruptions) {
    const Bytes valid = written(sample_image());
    const SegmentSpot constants = segment(valid, kConstSegment);
    const SegmentSpot form = segment(valid, kFormSegment);
    const SegmentSpot help = segment(valid, kHelpSegment);
    const SegmentSpot code = segment(valid, kCodeSegment);
    const SegmentSpot var = segment(valid, kVarSegment);
    const SegmentSpot relocations = segment(valid, kRelocSegment);
    const size_t first_block = form.data + 4 + 16;
    const size_t first_record_offsets = first_block + 24 + 4 * 3;
    const size_t header_end = at(valid, 0x24);

    auto truncate = [](size_t size) { return [size](Bytes& bytes) { bytes.resize(size); }; };
    auto set = [](size_t offset, uint32_t value) {
        return [offset, value](Bytes& bytes) { put(bytes, offset, value); };
    };
    struct Case {
        const char* what;
        std::function<void(Bytes&)> change;
        const char* message;
    };
    const Case cases[] = {
        {"bad magic", [](Bytes& b) { b[1] = 'K'; }, "bad magic"},
        {"nonzero header filler", [](Bytes& b) { b[0x10] = 1; }, "0x02..0x23 are not zero"},
        {"wrong 0x2C", set(0x2C, 4), "header field 0x2C is 0x4, not 3"},
        {"unknown architecture", set(0x30, 2), "unknown architecture"},
        {"0x54 differs", set(0x54, header_end + 4), "0x54"},
        {"help offset mismatch", set(0x48, help.header + 4), "0x48 (help segment header)"},
        {"too many DLL declarations", set(0x38, 1000), "DLL declaration tables of 1000"},
        {"library name not where the table says", set(0x5C, at(valid, 0x5C) + 1),
         "DLL declaration 1: library name at"},
        {"function name not after its library", set(0x60, at(valid, 0x60) + 1),
         "does not follow its library name"},
        {"DLL name without terminator",
         [&](Bytes& b) { b[constants.data + constants.stored - 1] = 'x'; },
         "DLL declaration 1: function name is not terminated"},
        {"library list without terminator", [&](Bytes& b) { b[header_end - 1] = 'x'; },
         "library list is not terminated"},
        {"library entry with four fields",
         [](Bytes& b) { *std::find(b.begin() + 0x68, b.end(), '\r') = '_'; },
         "library list entry 0 has 4 fields"},
        {"segment misnamed", [&](Bytes& b) { b[form.header + 12] = 'F'; }, "is not named 'form'"},
        {"code flags", set(code.header + 8, 7), "code segment: flags 0x7"},
        {"header length", set(form.header, 60), "form segment: header length 0x3C"},
        {"help fixup", set(help.header + 48, 1), "help segment: header length"},
        {"data not after header", set(form.header + 44, form.data + 4),
         "does not follow its header"},
        {"next header wrong", set(help.header + 4, help.data), "help segment: next-header offset"},
        {"last next header", set(relocations.header + 4, 0), "in the last segment"},
        {"var stored size", set(var.header + 40, 4), "var segment: stored size"},
        {"var data offset", set(var.header + 44, var.header + 56), "var segment: data offset"},
        {"memory size", set(code.header + 36, code.stored + 4), "code segment: size in memory"},
        {"help not zero", [&](Bytes& b) { b[help.data + 51] = 1; }, "help segment is not 52 zero"},
        {"unknown fixup kind", set(code.header + 56, 0x20 * 8 + 5), "fixup 0 has unknown kind 5"},
        {"fixup outside segment", set(code.header + 56, (code.stored - 2) * 8 + 1),
         "code fixup 0: site 0xBE outside the segment's data"},
        {"fixup target beyond reach", set(code.data + 0x10, kCodeSize + 4096 + 1),
         "code offset 0x10C1 outside code"},
        {"fixup target before reach", set(code.data + 0x10, 0xFFFFFFFF - 4096),
         "code offset 0xFFFFEFFF outside code"},
        {"const fixup kind", set(constants.header + 56, 4 * 8 + 0),
         "cannot refer to the slot table"},
        {"relocation offset outside code", set(relocations.data + 40, kCodeSize - 2),
         "relocation list 4: entry 1 offset 0xBE outside the code data"},
        {"relocation list not ascending",
         [&](Bytes& b) {
             put(b, relocations.data + 4, 0x64);
             put(b, relocations.data + 8, 0x60);
         },
         "relocation list 1: offsets not ascending"},
        {"relocation count too large", set(relocations.data + 24, 5),
         "relocation list 3: 5 entries run past"},
        {"DLL number out of range", set(code.data + 0x6C, 2), "DLL declaration number 2"},
        {"library position out of range", set(code.data + 0x70, 2), "library position 2"},
        {"start routine outside code", set(0x3C, kCodeSize), "start routine 0xC0"},
        {"form block length wrong", set(first_block + 20, at(valid, first_block + 20) + 4),
         "window 0: block length"},
        {"form block runs past", set(first_block + 20, 0x10000), "runs past the form segment"},
        {"record offset out of order",
         set(first_record_offsets + 4, at(valid, first_record_offsets + 4) + 4),
         "window 0 unit 1: record offset"},
        {"window table length", set(form.data, 12), "not a multiple of 8"},
        {"window identifier class", set(form.data + 4, 0x53010001), "is not of class 0x52"},
        {"unit fixed field",
         [&](Bytes& b) {
             // The own record's body: type, 20 zero bytes, two empty texts, a zero
             // word, position and size, a zero word, parent, two children.
             const size_t body = first_record_offsets + 12 + 4;
             put(b, body + 4 + 20 + 2 + 4 + 16 + 4 + 4 + 4 + 8, 5);
         },
         "window 0 unit 0: fixed field is 0x5"},
        {"next free identifier too low", set(0x34, 0x00010008),
         "is not above identifier 0x16010008"},
        {"next free identifier form", set(0x34, 0x00020009), "0x0001NNNN"},
        {"trailing byte", [](Bytes& b) { b.push_back(0); }, "1 bytes after the last segment"},
        {"truncated to nothing", truncate(0), "shorter than its header"},
        {"truncated inside the header", truncate(0x57), "shorter than its header"},
        {"truncated inside the library list", truncate(0x70), "header area (to"},
        {"truncated inside the const header", truncate(header_end + 10), "const segment header at"},
        {"truncated inside const data", truncate(constants.data + 2),
         "const segment data runs past"},
        {"truncated inside code fixups", truncate(code.header + 60),
         "code segment: fixups run past"},
        {"truncated by one byte", truncate(valid.size() - 1), "@reloc1 segment data runs past"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = valid;
        c.change(bytes);
        auto read = read_image(bytes);
        ASSERT_TRUE(read.is_error());
        EXPECT_NE(read.error().find(c.message), std::string::npos) << read.error();
    }
}

// Whatever single-byte change the reader accepts, the writer reproduces:
// nothing on disk escapes the model.
TEST(ImageReader, EveryAcceptedChangeWritesBackByteForByte) {
    const Bytes valid = written(sample_image());
    for (size_t offset = 0; offset < valid.size(); ++offset) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            Bytes bytes = valid;
            bytes[offset] ^= flip;
            auto read = read_image(bytes);
            if (read.is_error())
                continue;
            auto again = write_image(read.value());
            ASSERT_FALSE(again.is_error()) << "offset " << offset << ": " << again.error();
            ASSERT_EQ(again.value(), bytes) << "offset " << offset << " flip " << int(flip);
        }
    }
}

TEST(ImageWriter, RefusesModelsNoImageCanHold) {
    struct Case {
        const char* what;
        std::function<void(Image&)> change;
        const char* message;
    };
    const Case cases[] = {
        {"0x0D in a library field", [](Image& i) { i.libraries[1].description += "\r"; },
         "library 1: a field holds a zero byte or 0x0D"},
        {"kernel library not first", [](Image& i) { std::swap(i.libraries[0], i.libraries[1]); },
         "kernel library krnln"},
        {"no libraries", [](Image& i) { i.libraries.clear(); }, "kernel library krnln"},
        {"identifier not hexadecimal", [](Image& i) { i.libraries[1].identifier.back() = 'G'; },
         "32 hexadecimal digits"},
        {"version not decimal", [](Image& i) { i.libraries[1].minor = "1a"; }, "is not decimal"},
        {"zero byte in a DLL name",
         [](Image& i) { i.dlls[0].function = std::string("Message\0BoxA", 12); },
         "DLL declaration 0: a name holds a zero byte"},
        {"empty function name", [](Image& i) { i.dlls[1].function.clear(); },
         "empty function name"},
        {"code fixup site outside",
         [](Image& i) {
             i.code.fixups.push_back({kCodeSize - 2, FixupKind::Code});
         },
         "code fixup 6: site 0xBE outside"},
        {"const fixup site in the DLL names",
         [](Image& i) {
             i.const_segment.fixups.push_back({0x10, FixupKind::Code});
         },
         "const fixup 2: site 0x10 outside"},
        {"const fixup of the slot table kind",
         [](Image& i) { i.const_segment.fixups[0].kind = FixupKind::SlotTable; },
         "cannot refer to the slot table"},
        {"var offset beyond reach",
         [](Image& i) {
             i.var_size = 4;
             put(i.code.data, 0x30, 4 + 4096 + 1);
         },
         "var offset 0x1005 outside"},
        {"const offset beyond reach", [](Image& i) { put(i.code.data, 0x18, 0x10 + 34 + 4096); },
         "const offset 0x1032 outside"},
        {"relocation site outside",
         [](Image& i) { i.relocations.type_references.push_back(kCodeSize - 3); },
         "relocation list 4: entry 2 offset 0xBD outside the code data"},
        {"relocation list not ascending",
         [](Image& i) {
             i.relocations.identifiers = {0x64, 0x64};
         },
         "not ascending"},
        {"DLL number out of range", [](Image& i) { i.dlls.pop_back(); },
         "DLL declaration number 1"},
        {"library position out of range", [](Image& i) { i.libraries.pop_back(); },
         "library position 1"},
        {"start routine outside", [](Image& i) { i.start_routine = kCodeSize; }, "start routine"},
        {"handler outside", [](Image& i) { i.windows[0].units[1].events[0].handler = kCodeSize; },
         "window 0 unit 1 event 0: handler 0xC0"},
        {"next free identifier too low", [](Image& i) { i.next_free_id = 0x00010008; },
         "not above identifier 0x16010008"},
        {"next free identifier form", [](Image& i) { i.next_free_id = 0x00000009; }, "0x0001NNNN"},
        {"window class", [](Image& i) { i.windows[1].id = 0x16010006; }, "class 0x52"},
        {"block class", [](Image& i) { i.windows[0].block_id = 0x16010002; }, "class 0x19"},
        {"own record not first",
         [](Image& i) { std::swap(i.windows[0].units[0], i.windows[0].units[1]); },
         "not the window's own record"},
        {"window without units", [](Image& i) { i.windows[1].units.clear(); }, "has no units"},
        {"own record named", [](Image& i) { i.windows[0].units[0].name = "x"; }, "has a name"},
        {"unit class", [](Image& i) { i.windows[0].units[2].id = 0x52010005; },
         "window 0 unit 2: identifier 0x52010005 is not of class 0x06 or 0x16"},
        {"zero byte in a unit name",
         [](Image& i) { i.windows[1].units[1].second_text = std::string(1, '\0'); },
         "window 1 unit 1: a text holds a zero byte"},
        {"unknown architecture", [](Image& i) { i.architecture = static_cast<Architecture>(2); },
         "unknown architecture"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image image = sample_image();
        c.change(image);
        auto bytes = write_image(image);
        ASSERT_TRUE(bytes.is_error());
        EXPECT_NE(bytes.error().find(c.message), std::string::npos) << bytes.error();
    }
}

TEST(ImageWriter, SlotTableOperandsFollowTheArchitecture) {
    struct Case {
        Architecture architecture;
        uint32_t operand;
        bool accepted;
    };
    const Case cases[] = {
        {Architecture::I386, 0x00, true},    {Architecture::I386, 0x30, true},
        {Architecture::I386, 0x34, false},   {Architecture::I386, 0x06, false},
        {Architecture::X86_64, 0x60, true},  {Architecture::X86_64, 0x08, true},
        {Architecture::X86_64, 0x0C, false}, {Architecture::X86_64, 0x68, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.architecture) << " " << c.operand);
        Image image = sample_image(c.architecture);
        put(image.code.data, 0x08, c.operand);
        auto bytes = write_image(image);
        EXPECT_EQ(bytes.is_error(), !c.accepted);
        if (bytes.is_error()) {
            EXPECT_NE(bytes.error().find("code fixup 1: slot table operand"), std::string::npos)
                << bytes.error();
        }
    }
}

TEST(KnownLibraries, EntriesAreStoredBytes) {
    const LibraryEntry* kernel = known_library(kKernelLibraryName);
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(kernel->major + "." + kernel->minor, "4.6");
    // GBK, not UTF-8: 系 is CF B5.
    EXPECT_EQ(kernel->description.substr(0, 2), "\xcf\xb5");
    EXPECT_EQ(kernel->description.size(), 14u);
    const LibraryEntry* shell = known_library("pbshell");
    ASSERT_NE(shell, nullptr);
    EXPECT_TRUE(shell->description.ends_with("(PB\xb0\xe6)"));
    EXPECT_EQ(known_library("KRNLN"), nullptr);
    EXPECT_EQ(known_library("nosuch"), nullptr);
}

}  // namespace
}  // namespace image
