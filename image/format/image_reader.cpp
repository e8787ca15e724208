// Reading a program image, and the rules every model obeys.
#include <cstdio>
#include <cstring>

#include "base/byte_reader.h"
#include "base/hex.h"
#include "image/format/image.h"

namespace image {

namespace {

using base::hex;

base::Failure<std::string> refuse(std::string message) {
    return base::fail(std::move(message));
}

std::string number(uint64_t value) {
    return std::to_string(value);
}

// Largest offset whose fixup still fits in 32 bits (offset * 8 + kind).
constexpr uint32_t kMaxFixupOffset = 0xFFFFFFFFu >> 3;

// Where the DLL declaration tables and the library list start.
constexpr size_t kDllTables = ImageHeader::kSize;

// ---- Model rules ----

bool holds_zero(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

bool all_of(const std::string& text, bool (*accept)(char)) {
    for (char c : text) {
        if (!accept(c))
            return false;
    }
    return true;
}

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_decimal_digit(char c) {
    return c >= '0' && c <= '9';
}

ImageResult<void> check_libraries(const std::vector<LibraryEntry>& libraries) {
    if (libraries.empty() || libraries.front().name != kKernelLibraryName)
        return refuse("the library list does not start with the kernel library krnln");
    for (size_t i = 0; i < libraries.size(); ++i) {
        const LibraryEntry& entry = libraries[i];
        const std::string where = "library " + number(i);
        for (const std::string* field :
             {&entry.name, &entry.identifier, &entry.major, &entry.minor, &entry.description}) {
            if (holds_zero(*field) ||
                field->find(static_cast<char>(kLibraryFieldSeparator)) != std::string::npos)
                return refuse(where + ": a field holds a zero byte or 0x0D");
        }
        if (entry.name.empty())
            return refuse(where + " has an empty name");
        if (entry.identifier.size() != 32 || !all_of(entry.identifier, is_hex_digit))
            return refuse(where + ": identifier '" + entry.identifier +
                          "' is not 32 hexadecimal digits");
        if (entry.major.empty() || entry.minor.empty() || !all_of(entry.major, is_decimal_digit) ||
            !all_of(entry.minor, is_decimal_digit))
            return refuse(where + ": version '" + entry.major + "." + entry.minor +
                          "' is not decimal");
    }
    return {};
}

ImageResult<void> check_dlls(const std::vector<DllDeclaration>& dlls) {
    for (size_t i = 0; i < dlls.size(); ++i) {
        const std::string where = "DLL declaration " + number(i);
        if (holds_zero(dlls[i].library) || holds_zero(dlls[i].function))
            return refuse(where + ": a name holds a zero byte");
        if (dlls[i].function.empty())
            return refuse(where + " has an empty function name");
    }
    return {};
}

ImageResult<void> check_next_free_id(const Image& image) {
    if ((image.next_free_id >> 16) != 1)
        return refuse("next free identifier " + hex(image.next_free_id) +
                      " is not of the form 0x0001NNNN");
    const uint32_t next = identifier_number(image.next_free_id);
    auto in_use = [&](uint32_t id) -> ImageResult<void> {
        if (identifier_number(id) >= next)
            return refuse("next free identifier " + hex(image.next_free_id) +
                          " is not above identifier " + hex(id) + " in use");
        return {};
    };
    for (const Window& window : image.windows) {
        TRY(in_use(window.id));
        if (window.block_id != 0)
            TRY(in_use(window.block_id));
        for (const Unit& unit : window.units)
            TRY(in_use(unit.id));
    }
    return {};
}

ImageResult<void> check_handlers(const Image& image) {
    const size_t code_size = image.code.data.size();
    for (size_t i = 0; i < image.windows.size(); ++i) {
        const std::vector<Unit>& units = image.windows[i].units;
        for (size_t j = 0; j < units.size(); ++j) {
            for (size_t k = 0; k < units[j].events.size(); ++k) {
                const uint32_t handler = units[j].events[k].handler;
                if (handler >= code_size)
                    return refuse("window " + number(i) + " unit " + number(j) + " event " +
                                  number(k) + ": handler " + hex(handler) + " outside code data (" +
                                  hex(code_size) + " bytes)");
            }
        }
    }
    return {};
}

size_t dll_names_size(const std::vector<DllDeclaration>& dlls) {
    size_t size = 0;
    for (const DllDeclaration& dll : dlls)
        size += dll.library.size() + 1 + dll.function.size() + 1;
    return size;
}

// The operand of a slot table fixup: a slot offset, one pointer per slot, 13 slots.
uint32_t slot_size(Architecture architecture) {
    return architecture == Architecture::I386 ? 4 : 8;
}

bool is_slot_operand(Architecture architecture, uint32_t value) {
    const uint32_t step = slot_size(architecture);
    return value % step == 0 && value <= 12 * step;
}

ImageResult<void> check_fixups(const Image& image, const SegmentData& segment, SegmentIndex index) {
    const size_t const_size = image.const_segment.data.size() + dll_names_size(image.dlls);
    const size_t code_size = image.code.data.size();
    for (size_t i = 0; i < segment.fixups.size(); ++i) {
        const Fixup& fixup = segment.fixups[i];
        auto where = [&] { return std::string(kSegmentNames[index]) + " fixup " + number(i); };
        if (fixup.offset > kMaxFixupOffset ||
            static_cast<uint64_t>(fixup.offset) + 4 > segment.data.size())
            return refuse(where() + ": site " + hex(fixup.offset) +
                          " outside the segment's data (" + hex(segment.data.size()) + " bytes)");
        // Constants hold addresses of routines (method tables), of other
        // constants and of globals, never a slot thunk operand.
        if (index == kConstSegment && fixup.kind == FixupKind::SlotTable)
            return refuse(where() + ": a const fixup cannot refer to the slot table");
        const uint32_t value = base::load_le32(segment.data.data() + fixup.offset);
        // A target offset may lie a little outside its target: C++ forms the
        // address just past an array, and compilers bases just before one.
        switch (fixup.kind) {
            case FixupKind::SlotTable:
                if (!is_slot_operand(image.architecture, value))
                    return refuse(where() + ": slot table operand " + hex(value) +
                                  " is not a multiple of " + number(slot_size(image.architecture)) +
                                  " up to " + hex(12 * slot_size(image.architecture)));
                break;
            case FixupKind::Const:
                if (!fixup_value_in_reach(value, const_size))
                    return refuse(where() + ": const offset " + hex(value) +
                                  " outside const data (" + hex(const_size) + " bytes)");
                break;
            case FixupKind::Var:
                if (!fixup_value_in_reach(value, image.var_size))
                    return refuse(where() + ": var offset " + hex(value) +
                                  " outside the var segment (" + hex(image.var_size) + " bytes)");
                break;
            case FixupKind::Code:
                if (!fixup_value_in_reach(value, code_size))
                    return refuse(where() + ": code offset " + hex(value) + " outside code data (" +
                                  hex(code_size) + " bytes)");
                break;
            default:
                return refuse(where() + ": unknown kind " +
                              number(static_cast<uint32_t>(fixup.kind)));
        }
    }
    return {};
}

ImageResult<void> check_relocations(const Image& image) {
    const std::vector<uint8_t>& code = image.code.data;
    const std::vector<uint32_t>* lists[] = {
        &image.relocations.identifiers,
        &image.relocations.dll_numbers,
        &image.relocations.library_positions,
        &image.relocations.type_references,
    };
    for (size_t l = 0; l < 4; ++l) {
        const std::vector<uint32_t>& list = *lists[l];
        const std::string where = "relocation list " + number(l + 1);
        for (size_t j = 0; j < list.size(); ++j) {
            const uint32_t site = list[j];
            if (j > 0 && site <= list[j - 1])
                return refuse(where + ": offsets not ascending at entry " + number(j) + " (" +
                              hex(site) + " after " + hex(list[j - 1]) + ")");
            if (static_cast<uint64_t>(site) + 4 > code.size())
                return refuse(where + ": entry " + number(j) + " offset " + hex(site) +
                              " outside the code data (" + hex(code.size()) + " bytes)");
            const uint32_t value = base::load_le32(code.data() + site);
            if (l == 1 && value >= image.dlls.size())
                return refuse(where + ": DLL declaration number " + number(value) +
                              " at code offset " + hex(site) + ", but there are " +
                              number(image.dlls.size()) + " declarations");
            if (l == 2 && value >= image.libraries.size())
                return refuse(where + ": library position " + number(value) + " at code offset " +
                              hex(site) + ", but the list has " + number(image.libraries.size()) +
                              " libraries");
        }
    }
    return {};
}

// ---- On-disk structure ----

ImageResult<ImageHeader> read_header(const base::ByteView& view) {
    if (view.size() < ImageHeader::kSize)
        return refuse("image of " + number(view.size()) + " bytes is shorter than its header (" +
                      hex(ImageHeader::kSize) + " bytes)");
    ImageHeader header;
    header.magic = *view.u16(0x00);
    header.first_segment = *view.u32(0x24);
    header.constant_1 = *view.u32(0x28);
    header.constant_3 = *view.u32(0x2C);
    header.architecture = *view.u32(0x30);
    header.next_free_id = *view.u32(0x34);
    header.dll_count = *view.u32(0x38);
    header.start_routine = *view.u32(0x3C);
    header.const_segment = *view.u32(0x40);
    header.form_segment = *view.u32(0x44);
    header.help_segment = *view.u32(0x48);
    header.code_segment = *view.u32(0x4C);
    header.var_segment = *view.u32(0x50);
    header.first_segment_again = *view.u32(0x54);
    return header;
}

ImageResult<void> check_header(const ImageHeader& header, const base::ByteView& view) {
    if (header.magic != ImageHeader::kMagic)
        return refuse("bad magic " + hex(header.magic) + " (expected 0x4A57, \"WJ\")");
    for (size_t offset = 0x02; offset < 0x24; ++offset) {
        if (view.bytes()[offset] != 0)
            return refuse("header bytes 0x02..0x23 are not zero (at " + hex(offset) + ")");
    }
    if (header.constant_1 != 1)
        return refuse("header field 0x28 is " + hex(header.constant_1) + ", not 1");
    if (header.constant_3 != 3)
        return refuse("header field 0x2C is " + hex(header.constant_3) + ", not 3");
    if (header.architecture > static_cast<uint32_t>(Architecture::X86_64))
        return refuse("header field 0x30: unknown architecture " + hex(header.architecture));
    if (header.first_segment_again != header.first_segment)
        return refuse("header field 0x54 (" + hex(header.first_segment_again) +
                      ") differs from 0x24 (" + hex(header.first_segment) + ")");
    if (header.first_segment > view.size())
        return refuse("header area (to " + hex(header.first_segment) +
                      ") runs past the end of the image (" + hex(view.size()) + " bytes)");
    if (kDllTables + 8 * static_cast<uint64_t>(header.dll_count) > header.first_segment)
        return refuse("DLL declaration tables of " + number(header.dll_count) +
                      " entries run past the header area");
    return {};
}

ImageResult<std::vector<LibraryEntry>> read_library_list(std::span<const uint8_t> area,
                                                         size_t start) {
    const base::ByteView view(area);
    std::vector<LibraryEntry> libraries;
    size_t position = start;
    for (;;) {
        auto end = view.find_zero(position);
        if (!end)
            return refuse("library list is not terminated inside the header area");
        if (*end == position) {
            if (position + 1 != area.size())
                return refuse("library list ends at " + hex(position + 1) +
                              ", not at the first segment header (" + hex(area.size()) + ")");
            return libraries;
        }
        std::vector<std::string> fields(1);
        for (size_t i = position; i < *end; ++i) {
            if (area[i] == kLibraryFieldSeparator)
                fields.emplace_back();
            else
                fields.back().push_back(static_cast<char>(area[i]));
        }
        if (fields.size() != kLibraryFieldCount)
            return refuse("library list entry " + number(libraries.size()) + " has " +
                          number(fields.size()) + " fields, not 5");
        libraries.push_back({fields[0], fields[1], fields[2], fields[3], fields[4]});
        position = *end + 1;
    }
}

// One segment of the chain, as read.
struct Segment {
    uint32_t offset;  // of its header
    SegmentHeader header;
    std::vector<Fixup> fixups;
    std::span<const uint8_t> data;  // empty for var
    uint64_t end;                   // where the next header must be
};

ImageResult<void> check_segment_name(const SegmentHeader& header, uint32_t offset,
                                     std::string_view name) {
    const std::string_view stored(header.name, SegmentHeader::kNameSize);
    if (stored.substr(0, name.size()) != name ||
        stored.find_first_not_of('\0', name.size()) != std::string_view::npos)
        return refuse("segment header at " + hex(offset) + " is not named '" + std::string(name) +
                      "'");
    return {};
}

ImageResult<Segment> read_segment(const base::ByteView& view, uint64_t offset, SegmentIndex index) {
    const std::string where = std::string(kSegmentNames[index]) + " segment";
    auto fields = view.slice(offset, SegmentHeader::kSize);
    if (!fields)
        return refuse(where + " header at " + hex(offset) + " runs past the end of the image");
    Segment segment;
    segment.offset = static_cast<uint32_t>(offset);
    SegmentHeader& header = segment.header;
    const uint8_t* p = fields->data();
    header.header_length = base::load_le32(p + 0);
    header.next_header = base::load_le32(p + 4);
    header.flags = base::load_le32(p + 8);
    std::memcpy(header.name, p + 12, SegmentHeader::kNameSize);
    header.memory_size = base::load_le32(p + 36);
    header.stored_size = base::load_le32(p + 40);
    header.data_offset = base::load_le32(p + 44);
    header.fixup_count = base::load_le32(p + 48);
    header.zero = base::load_le32(p + 52);

    TRY(check_segment_name(header, segment.offset, kSegmentNames[index]));
    if (header.flags != kSegmentFlags[index])
        return refuse(where + ": flags " + hex(header.flags) + ", not " +
                      hex(kSegmentFlags[index]));
    if (header.zero != 0)
        return refuse(where + ": header word at +52 is not zero");
    if (header.header_length !=
        SegmentHeader::kSize + 4 * static_cast<uint64_t>(header.fixup_count))
        return refuse(where + ": header length " + hex(header.header_length) +
                      " does not match its " + number(header.fixup_count) + " fixups");
    if (header.fixup_count != 0 && index != kConstSegment && index != kCodeSegment)
        return refuse(where + " carries fixups");
    auto raw_fixups = view.slice(offset + SegmentHeader::kSize, 4 * size_t{header.fixup_count});
    if (!raw_fixups)
        return refuse(where + ": fixups run past the end of the image");
    segment.fixups.reserve(header.fixup_count);
    for (uint32_t i = 0; i < header.fixup_count; ++i) {
        const uint32_t raw = base::load_le32(raw_fixups->data() + 4 * i);
        auto fixup = Fixup::decode(raw);
        if (!fixup)
            return refuse(where + ": fixup " + number(i) + " has unknown kind " + number(raw & 7));
        segment.fixups.push_back(*fixup);
    }

    const uint64_t header_end = offset + header.header_length;
    if (index == kVarSegment) {
        if (header.stored_size != 0)
            return refuse(where + ": stored size " + hex(header.stored_size) + ", not 0");
        if (header.data_offset != SegmentHeader::kNoData)
            return refuse(where + ": data offset " + hex(header.data_offset) + ", not 0xFFFFFFFF");
        segment.end = header_end;
    } else {
        if (header.data_offset != header_end)
            return refuse(where + ": data offset " + hex(header.data_offset) +
                          " does not follow its header (" + hex(header_end) + ")");
        if (header.memory_size != header.stored_size)
            return refuse(where + ": size in memory " + hex(header.memory_size) +
                          " differs from its stored size " + hex(header.stored_size));
        auto data = view.slice(header_end, header.stored_size);
        if (!data)
            return refuse(where + " data runs past the end of the image");
        segment.data = *data;
        segment.end = header_end + header.stored_size;
    }
    if (index == kRelocSegment) {
        if (header.next_header != SegmentHeader::kNoNext)
            return refuse(where + ": next-header offset " + hex(header.next_header) +
                          " in the last segment, not 0xFFFFFFFF");
    } else if (header.next_header != segment.end) {
        return refuse(where + ": next-header offset " + hex(header.next_header) +
                      " does not follow the segment (" + hex(segment.end) + ")");
    }
    return segment;
}

ImageResult<void> check_chain_offsets(const ImageHeader& header, const Segment (&segments)[6]) {
    struct Field {
        uint32_t value;
        const char* name;
    };
    const Field fields[] = {
        {header.const_segment, "0x40 (const segment header)"},
        {header.form_segment, "0x44 (form segment header)"},
        {header.help_segment, "0x48 (help segment header)"},
        {header.code_segment, "0x4C (code segment header)"},
        {header.var_segment, "0x50 (var segment header)"},
    };
    for (size_t i = 0; i < 5; ++i) {
        if (fields[i].value != segments[i].offset)
            return refuse(std::string("header field ") + fields[i].name + " is " +
                          hex(fields[i].value) + ", but the chain has it at " +
                          hex(segments[i].offset));
    }
    return {};
}

ImageResult<void> check_help(std::span<const uint8_t> help) {
    bool zero = help.size() == kHelpSize;
    for (uint8_t byte : help)
        zero = zero && byte == 0;
    if (!zero)
        return refuse("help segment is not 52 zero bytes");
    return {};
}

// The DLL declarations, whose names end const data; returns where they start.
ImageResult<size_t> read_dll_names(const base::ByteView& image_view, uint32_t count,
                                   std::span<const uint8_t> const_data,
                                   std::vector<DllDeclaration>& dlls) {
    if (count == 0)
        return const_data.size();
    const base::ByteView names(const_data);
    const size_t start = *image_view.u32(kDllTables);
    size_t position = start;
    auto text = [&](size_t at, size_t end) {
        return std::string(reinterpret_cast<const char*>(const_data.data()) + at, end - at);
    };
    for (uint32_t i = 0; i < count; ++i) {
        const std::string where = "DLL declaration " + number(i);
        const uint32_t library_at = *image_view.u32(kDllTables + 4 * size_t{i});
        const uint32_t function_at = *image_view.u32(kDllTables + 4 * size_t{count} + 4 * i);
        if (library_at != position)
            return refuse(where + ": library name at " + hex(library_at) +
                          ", not where the names before it end (" + hex(position) + ")");
        auto end = names.find_zero(position);
        if (!end)
            return refuse(where + ": library name is not terminated inside const data");
        DllDeclaration dll;
        dll.library = text(position, *end);
        position = *end + 1;
        if (function_at != position)
            return refuse(where + ": function name at " + hex(function_at) +
                          " does not follow its library name (" + hex(position) + ")");
        end = names.find_zero(position);
        if (!end)
            return refuse(where + ": function name is not terminated inside const data");
        dll.function = text(position, *end);
        position = *end + 1;
        dlls.push_back(std::move(dll));
    }
    if (position != const_data.size())
        return refuse("DLL names end at " + hex(position) + ", not at the end of const data (" +
                      hex(const_data.size()) + ")");
    return start;
}

ImageResult<RelocationLists> read_relocations(std::span<const uint8_t> data) {
    const base::ByteView view(data);
    RelocationLists lists;
    std::vector<uint32_t>* targets[] = {
        &lists.identifiers,
        &lists.dll_numbers,
        &lists.library_positions,
        &lists.type_references,
    };
    size_t position = 0;
    for (size_t l = 0; l < 4; ++l) {
        const std::string where = "relocation list " + number(l + 1);
        auto count = view.u32(position);
        if (!count)
            return refuse(where + ": count runs past the @reloc1 data");
        position += 4;
        if (!view.has(position, 4 * size_t{*count}))
            return refuse(where + ": " + number(*count) + " entries run past the @reloc1 data");
        targets[l]->resize(*count);
        for (uint32_t& offset : *targets[l]) {
            offset = *view.u32(position);
            position += 4;
        }
    }
    if (position != data.size())
        return refuse("@reloc1 data has " + number(data.size() - position) +
                      " bytes after the four relocation lists");
    return lists;
}

}  // namespace

std::optional<Fixup> Fixup::decode(uint32_t raw) {
    const uint32_t kind = raw & 7;
    if (kind > static_cast<uint32_t>(FixupKind::Code))
        return std::nullopt;
    return Fixup{raw >> 3, static_cast<FixupKind>(kind)};
}

ImageResult<void> check_image(const Image& image) {
    if (image.architecture != Architecture::I386 && image.architecture != Architecture::X86_64)
        return refuse("unknown architecture " + number(static_cast<uint32_t>(image.architecture)));
    TRY(check_libraries(image.libraries));
    TRY(check_dlls(image.dlls));
    TRY(check_windows(image.windows));
    TRY(check_next_free_id(image));
    if (image.start_routine >= image.code.data.size())
        return refuse("start routine " + hex(image.start_routine) + " outside code data (" +
                      hex(image.code.data.size()) + " bytes)");
    TRY(check_handlers(image));
    TRY(check_fixups(image, image.const_segment, kConstSegment));
    TRY(check_fixups(image, image.code, kCodeSegment));
    TRY(check_relocations(image));
    return {};
}

ImageResult<Image> read_image(std::span<const uint8_t> bytes) {
    const base::ByteView view(bytes);
    const ImageHeader header = TRY(read_header(view));
    TRY(check_header(header, view));

    Image image;
    image.architecture = static_cast<Architecture>(header.architecture);
    image.next_free_id = header.next_free_id;
    image.start_routine = header.start_routine;
    image.libraries = TRY(read_library_list(bytes.first(header.first_segment),
                                            kDllTables + 8 * size_t{header.dll_count}));

    Segment segments[kSegmentCount]{};
    uint64_t position = header.first_segment;
    for (size_t i = 0; i < kSegmentCount; ++i) {
        segments[i] = TRY(read_segment(view, position, static_cast<SegmentIndex>(i)));
        position = segments[i].end;
    }
    if (position != bytes.size())
        return refuse(number(bytes.size() - position) + " bytes after the last segment");
    TRY(check_chain_offsets(header, segments));
    TRY(check_help(segments[kHelpSegment].data));

    const Segment& constants = segments[kConstSegment];
    const size_t names_start =
        TRY(read_dll_names(view, header.dll_count, constants.data, image.dlls));
    image.const_segment.data.assign(constants.data.begin(), constants.data.begin() + names_start);
    image.const_segment.fixups = std::move(segments[kConstSegment].fixups);
    image.windows = TRY(decode_form(segments[kFormSegment].data));
    image.code.data.assign(segments[kCodeSegment].data.begin(), segments[kCodeSegment].data.end());
    image.code.fixups = std::move(segments[kCodeSegment].fixups);
    image.var_size = segments[kVarSegment].header.memory_size;
    image.relocations = TRY(read_relocations(segments[kRelocSegment].data));

    TRY(check_image(image));
    return image;
}

}  // namespace image
