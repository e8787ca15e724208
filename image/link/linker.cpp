#include "image/link/linker.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "base/byte_reader.h"
#include "base/hex.h"
#include "contract/runtime_abi.h"

namespace image::link {

using base::fail;

namespace {

using base::hex;

enum class SegmentId { Const, Form, Help, Code, Var };
constexpr const char* kSectionNames[] = {".const", ".form", ".help", ".code", ".var"};
constexpr uint64_t kSegmentAlignment = 4096;

struct LinkedSegment {
    int section = -1;  // ELF section index, -1 when the link left it out
    uint64_t address = 0;
    uint64_t size = 0;
    std::vector<uint8_t> bytes;  // stored bytes (none for var)
};

enum class RelocationClass { Absolute32, Absolute64, Relative };

struct RelocationRule {
    RelocationClass kind;
    const char* name;
};

std::optional<RelocationRule> relocation_rule(Architecture architecture, uint32_t type) {
    if (architecture == Architecture::X86_64) {
        switch (type) {
            case 1:
                return RelocationRule{RelocationClass::Absolute64, "R_X86_64_64"};
            case 2:
                return RelocationRule{RelocationClass::Relative, "R_X86_64_PC32"};
            case 4:
                return RelocationRule{RelocationClass::Relative, "R_X86_64_PLT32"};
            case 10:
                return RelocationRule{RelocationClass::Absolute32, "R_X86_64_32"};
            case 11:
                return RelocationRule{RelocationClass::Absolute32, "R_X86_64_32S"};
        }
    } else {
        switch (type) {
            case 1:
                return RelocationRule{RelocationClass::Absolute32, "R_386_32"};
            case 2:
                return RelocationRule{RelocationClass::Relative, "R_386_PC32"};
            case 4:
                return RelocationRule{RelocationClass::Relative, "R_386_PLT32"};
        }
    }
    return std::nullopt;
}

// The marker symbols' prefixes, with the relocation list each one fills.
constexpr std::string_view kSlotTableSymbol = "__rt_slot_table";
constexpr std::string_view kMarkerPrefix = "__rtm_";

class Linker {
  public:
    Linker(const ElfFile& elf, const ProgramDescription& description)
        : elf_(elf), description_(description) {}

    LinkResult<Image> run() {
        TRY(check_architecture());
        TRY(collect_segments());
        TRY(resolve_relocations(SegmentId::Code));
        TRY(resolve_relocations(SegmentId::Const));
        TRY(check_thunk_table());
        TRY(build_forms());
        TRY(choose_next_identifier());
        sort_lists();
        image_.code.data = std::move(segment(SegmentId::Code).bytes);
        image_.const_segment.data = std::move(segment(SegmentId::Const).bytes);
        image_.var_size = static_cast<uint32_t>(segment(SegmentId::Var).size);
        image_.libraries = description_.libraries;
        for (const DllAlias& dll : description_.dlls)
            image_.dlls.push_back(dll.declaration);
        return std::move(image_);
    }

  private:
    LinkedSegment& segment(SegmentId id) { return segments_[static_cast<size_t>(id)]; }

    // --- pass 1 ---
    LinkResult<void> check_architecture() {
        if (elf_.machine() == kMachineX86_64 && elf_.is_64())
            image_.architecture = Architecture::X86_64;
        else if (elf_.machine() == kMachineI386 && !elf_.is_64())
            image_.architecture = Architecture::I386;
        else
            return fail(std::string("the ELF file is neither i386 (ELF32) nor x86-64 (ELF64)"));
        return {};
    }

    // --- pass 2 ---
    LinkResult<void> collect_segments() {
        for (size_t i = 0; i < std::size(kSectionNames); ++i) {
            LinkedSegment& s = segments_[i];
            s.section = elf_.find_section(kSectionNames[i]);
            if (s.section < 0)
                continue;
            const ElfSection& section = elf_.sections()[static_cast<size_t>(s.section)];
            s.address = section.address;
            s.size = section.size;
            s.bytes.assign(section.bytes.begin(), section.bytes.end());
        }
        if (segment(SegmentId::Code).section < 0 || segment(SegmentId::Code).size == 0)
            return fail(std::string("no .code section: link with the image linker script"));
        if (segment(SegmentId::Form).section < 0)
            return fail(std::string("no .form section: link the prepared form object"));
        const LinkedSegment& help = segment(SegmentId::Help);
        if (help.size != kHelpSize ||
            std::any_of(help.bytes.begin(), help.bytes.end(), [](uint8_t b) { return b != 0; }))
            return fail(std::string("the .help section must be 52 zero bytes (link the SDK)"));

        // The chain rule: each segment at the next 4096-byte boundary.
        uint64_t expected = segment(SegmentId::Const).section >= 0
                                ? segment(SegmentId::Const).address
                                : segment(SegmentId::Form).address;
        for (size_t i = 0; i < std::size(kSectionNames); ++i) {
            LinkedSegment& s = segments_[i];
            if (s.section < 0) {
                s.address = expected;  // an empty segment takes no room
                continue;
            }
            if (s.address != expected && !(s.size == 0 && i + 1 == std::size(kSectionNames)))
                return fail(std::string(kSectionNames[i]) + " is at " + hex(s.address) +
                            ", not at " + hex(expected) + ": link with the image linker script");
            expected = (s.address + s.size + kSegmentAlignment - 1) / kSegmentAlignment *
                       kSegmentAlignment;
        }
        if (segment(SegmentId::Var).address + segment(SegmentId::Var).size > 0x7FFFFFFF)
            return fail(std::string("the image is linked above 2 GB"));

        for (size_t i = 0; i < elf_.sections().size(); ++i) {
            const ElfSection& section = elf_.sections()[i];
            if ((section.flags & kSectionFlagAlloc) == 0 || section.size == 0)
                continue;
            if (std::find(std::begin(kSectionNames), std::end(kSectionNames), section.name) !=
                std::end(kSectionNames))
                continue;
            if (section.name == ".data")
                return fail("initialised writable data is not allowed in an image: " +
                            symbols_in(i) + " (make it const, or zero-initialised)");
            return fail("section " + section.name + " has no place in an image");
        }
        return {};
    }

    std::string symbols_in(size_t section) const {
        std::string names;
        for (const ElfSymbol& symbol : elf_.symbols()) {
            if (symbol.section == section && (symbol.type == 1 || symbol.type == 2) &&
                !symbol.name.empty())
                names += (names.empty() ? "" : ", ") + symbol.name;
        }
        return names.empty() ? "(no named symbol)" : names;
    }

    std::optional<SegmentId> segment_of_section(uint16_t section) const {
        for (size_t i = 0; i < std::size(kSectionNames); ++i) {
            if (segments_[i].section >= 0 && segments_[i].section == section)
                return static_cast<SegmentId>(i);
        }
        return std::nullopt;
    }

    // --- pass 3 ---
    LinkResult<void> resolve_relocations(SegmentId where) {
        LinkedSegment& site_segment = segment(where);
        if (site_segment.section < 0)
            return {};
        auto relocations = TRY(elf_.relocations_for(static_cast<size_t>(site_segment.section)));
        for (const ElfRelocation& relocation : relocations)
            TRY(resolve(where, relocation));
        return {};
    }

    std::string place(SegmentId where, uint64_t offset, const ElfSymbol& symbol) const {
        return std::string(kSectionNames[static_cast<size_t>(where)]) + "+" + hex(offset) + " (" +
               (symbol.name.empty() ? std::string("a local symbol") : symbol.name) + ")";
    }

    LinkResult<void> resolve(SegmentId where, const ElfRelocation& relocation) {
        LinkedSegment& site_segment = segment(where);
        const ElfSymbol& symbol = elf_.symbols()[relocation.symbol];
        auto rule = relocation_rule(image_.architecture, relocation.type);
        const uint64_t site = relocation.offset - site_segment.address;
        if (!rule)
            return fail("unknown relocation type " + std::to_string(relocation.type) + " at " +
                        place(where, site, symbol));
        const size_t width = rule->kind == RelocationClass::Absolute64 ? 8 : 4;
        if (relocation.offset < site_segment.address || site + width > site_segment.bytes.size())
            return fail("a relocation lies outside its section at " + place(where, site, symbol));
        uint8_t* at = site_segment.bytes.data() + site;
        const uint32_t site32 = static_cast<uint32_t>(site);

        if (rule->kind == RelocationClass::Relative) {
            if (symbol.section == kSymbolUndefined)
                return fail("undefined symbol " + symbol.name + " called or referenced at " +
                            place(where, site, symbol));
            if (where == SegmentId::Const)
                return fail("a position-relative reference in const data at " +
                            place(where, site, symbol));
            auto target = segment_of_section(symbol.section);
            if (!target)
                return fail("a reference outside the image at " + place(where, site, symbol));
            if (image_.architecture == Architecture::I386 && *target != where)
                return fail("an i386 position-relative reference between segments at " +
                            place(where, site, symbol));
            return {};
        }

        // The value the link stored: S + A.
        const uint64_t linked =
            width == 8
                ? base::load_le64(at)
                : (elf_.is_64() ? static_cast<uint64_t>(base::load_le32(at)) : base::load_le32(at));
        if (symbol.section == kSymbolUndefined) {
            if (symbol.name == kSlotTableSymbol)
                return slot_thunk(where, site32, symbol, linked, width);
            if (std::string_view(symbol.name).starts_with(kMarkerPrefix))
                return marker(where, site32, symbol, linked, width, at);
            return fail("undefined symbol " + symbol.name + " at " + place(where, site, symbol));
        }
        if (symbol.section == kSymbolAbsolute)
            return fail("an absolute symbol has no place in an image: " +
                        place(where, site, symbol));
        auto target = segment_of_section(symbol.section);
        if (!target)
            return fail("a reference to a section outside the image at " +
                        place(where, site, symbol));
        FixupKind kind;
        switch (*target) {
            case SegmentId::Const:
                kind = FixupKind::Const;
                break;
            case SegmentId::Var:
                kind = FixupKind::Var;
                break;
            case SegmentId::Code:
                kind = FixupKind::Code;
                break;
            default:
                return fail("code and constants may not refer to the form or help segment: " +
                            place(where, site, symbol));
        }
        // The offset is signed: a compiler may address an array through a
        // base a little before it (`literal - 1`), outside its segment; the
        // binder adds the segment's run-time address all the same.
        const LinkedSegment& target_segment = segment(*target);
        // A 32-bit site holds the address modulo 2^32.
        const uint64_t difference = linked - target_segment.address;
        const int64_t delta = width == 8 ? static_cast<int64_t>(difference)
                                         : static_cast<int32_t>(static_cast<uint32_t>(difference));
        if (!fixup_value_in_reach(static_cast<uint32_t>(delta), target_segment.size) ||
            delta != static_cast<int32_t>(delta))
            return fail("a reference beyond its target segment at " + place(where, site, symbol));
        const uint32_t offset = static_cast<uint32_t>(delta);
        base::store_le32(at, offset);
        if (width == 8)
            base::store_le32(at + 4, 0);
        fixups(where).push_back({site32, kind});
        return {};
    }

    std::vector<Fixup>& fixups(SegmentId where) {
        return where == SegmentId::Code ? image_.code.fixups : image_.const_segment.fixups;
    }

    LinkResult<void> slot_thunk(SegmentId where, uint32_t site, const ElfSymbol& symbol,
                                uint64_t linked, size_t width) {
        const uint32_t scale = image_.architecture == Architecture::X86_64 ? 2 : 1;
        if (where != SegmentId::Code || width != 4)
            return fail("the slot table is used outside a slot thunk at " +
                        place(where, site, symbol));
        if (linked % (4 * scale) != 0 || linked / scale > RT_SLOT_SERVICE)
            return fail("a slot thunk names no slot at " + place(where, site, symbol));
        image_.code.fixups.push_back({site, FixupKind::SlotTable});
        thunk_sites_.push_back(site);
        return {};
    }

    LinkResult<void> marker(SegmentId where, uint32_t site, const ElfSymbol& symbol,
                            uint64_t linked, size_t width, uint8_t* at) {
        if (where != SegmentId::Code || width != 4)
            return fail("marker " + symbol.name + " used outside a 32-bit immediate in code at " +
                        place(where, site, symbol));
        if (linked != 0)
            return fail("marker " + symbol.name + " used with an offset at " +
                        place(where, site, symbol));
        const std::string name = symbol.name.substr(kMarkerPrefix.size());
        auto unknown = [&](const std::string& what) {
            return fail("unknown " + what + " in marker " + symbol.name + " at " +
                        place(where, site, symbol));
        };
        uint32_t value = 0;
        std::vector<uint32_t>* list = nullptr;
        if (name.starts_with("id_")) {
            auto id = parse_hex_word(name.substr(3));
            if (!id || !description_.defines_identifier(*id))
                return unknown("window or unit identifier");
            value = *id;
            list = &image_.relocations.identifiers;
        } else if (name.starts_with("dll_")) {
            auto number = description_.dll_number(name.substr(4));
            if (!number)
                return unknown("DLL declaration");
            value = static_cast<uint32_t>(*number);
            list = &image_.relocations.dll_numbers;
        } else if (name.starts_with("lib_")) {
            auto position = description_.library_position(name.substr(4));
            if (!position)
                return unknown("library");
            value = static_cast<uint32_t>(*position);
            list = &image_.relocations.library_positions;
        } else if (name.starts_with("type_")) {
            size_t split = name.rfind('_');
            auto position = description_.library_position(name.substr(5, split - 5));
            auto number = parse_hex_word(name.substr(split + 1));
            if (split <= 5 || !position || !number || *number == 0 || *number > 0xFFFF)
                return unknown("unit type");
            value = static_cast<uint32_t>((*position + 1) << 16) | *number;
            list = &image_.relocations.type_references;
        } else {
            return unknown("kind");
        }
        base::store_le32(at, value);
        list->push_back(site);
        return {};
    }

    static std::optional<uint32_t> parse_hex_word(const std::string& text) {
        if (text.empty() || text.size() > 8)
            return std::nullopt;
        uint32_t value = 0;
        for (char c : text) {
            int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
            if (digit < 0)
                return std::nullopt;
            value = value << 4 | static_cast<uint32_t>(digit);
        }
        return value;
    }

    // --- pass 4 ---
    LinkResult<void> check_thunk_table() {
        const bool wide = image_.architecture == Architecture::X86_64;
        const size_t thunk_size = wide ? 7 : 6;
        const size_t operand_at = wide ? 3 : 2;
        const std::vector<uint8_t>& code = segment(SegmentId::Code).bytes;
        std::sort(thunk_sites_.begin(), thunk_sites_.end());
        if (thunk_sites_.empty())
            return fail(
                std::string("the code uses no runtime slot (link the SDK's start routine)"));
        const size_t table_start = code.size() - thunk_sites_.size() * thunk_size;
        std::set<uint32_t> slots;
        for (size_t i = 0; i < thunk_sites_.size(); ++i) {
            const size_t thunk = table_start + i * thunk_size;
            const bool opcode_ok =
                wide ? (code[thunk] == 0xFF && code[thunk + 1] == 0x24 && code[thunk + 2] == 0x25)
                     : (code[thunk] == 0xFF && code[thunk + 1] == 0x25);
            if (thunk_sites_[i] != thunk + operand_at || !opcode_ok)
                return fail("the slot thunks do not end the code segment back to back (at code+" +
                            hex(thunk_sites_[i]) + ")");
            if (!slots.insert(base::load_le32(code.data() + thunk_sites_[i])).second)
                return fail("two slot thunks for one slot at code+" + hex(thunk_sites_[i]));
        }
        const ElfSymbol* start = find_function("rt_start");
        if (start == nullptr)
            return fail(std::string("no start routine rt_start (link the SDK)"));
        const uint64_t start_offset = start->value - segment(SegmentId::Code).address;
        if (start_offset + start->size != table_start)
            return fail(std::string("the start routine does not directly precede the slot thunks"));
        image_.start_routine = static_cast<uint32_t>(start_offset);
        return {};
    }

    const ElfSymbol* find_function(const std::string& name) const {
        auto code_section = segment_of_section_index(SegmentId::Code);
        for (const ElfSymbol& symbol : elf_.symbols()) {
            if (symbol.name == name && symbol.section == code_section && symbol.type == 2)
                return &symbol;
        }
        return nullptr;
    }

    uint16_t segment_of_section_index(SegmentId id) const {
        return static_cast<uint16_t>(segments_[static_cast<size_t>(id)].section);
    }

    // --- pass 5 ---
    LinkResult<void> build_forms() {
        auto placeholder = TRY(placeholder_form(description_));
        if (placeholder != segment(SegmentId::Form).bytes)
            return fail(
                std::string("the linked .form section is not this description's form "
                            "(prepare and link again)"));
        const uint64_t code_address = segment(SegmentId::Code).address;
        image_.windows = TRY(
            resolve_windows(description_, [&](const std::string& name) -> std::optional<uint32_t> {
                const ElfSymbol* routine = find_function(name);
                if (routine == nullptr)
                    return std::nullopt;
                return static_cast<uint32_t>(routine->value - code_address);
            }));
        return {};
    }

    // --- pass 6 ---
    LinkResult<void> choose_next_identifier() {
        uint32_t highest = 0;
        for (const Window& window : image_.windows) {
            highest = std::max({highest, window.id & 0xFFFF, window.block_id & 0xFFFF});
            for (const Unit& unit : window.units)
                highest = std::max(highest, unit.id & 0xFFFF);
        }
        if (highest >= 0xFFFF)
            return fail(std::string("no identifier number is left above the highest in use"));
        const uint32_t minimum = 0x00010000 | (highest + 1);
        if (description_.next_id) {
            if ((*description_.next_id & 0xFFFF0000) != 0x00010000 ||
                *description_.next_id < minimum)
                return fail("next-id must be 0001NNNN above every identifier in use (at least " +
                            hex(minimum) + ")");
            image_.next_free_id = *description_.next_id;
        } else {
            image_.next_free_id = minimum;
        }
        return {};
    }

    void sort_lists() {
        for (auto* list :
             {&image_.relocations.identifiers, &image_.relocations.dll_numbers,
              &image_.relocations.library_positions, &image_.relocations.type_references})
            std::sort(list->begin(), list->end());
    }

    const ElfFile& elf_;
    const ProgramDescription& description_;
    LinkedSegment segments_[std::size(kSectionNames)];
    std::vector<uint32_t> thunk_sites_;
    Image image_;
};

}  // namespace

LinkResult<std::vector<uint8_t>> placeholder_form(const ProgramDescription& description) {
    auto windows = TRY(resolve_windows(
        description, [](const std::string&) -> std::optional<uint32_t> { return 0u; }));
    return encode_form(windows);
}

LinkResult<Image> link_image(const ElfFile& elf, const ProgramDescription& description) {
    Linker linker(elf, description);
    return linker.run();
}

}  // namespace image::link
