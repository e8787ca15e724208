#include "image/link/elf_file.h"

#include <cstring>

#include "base/byte_reader.h"

namespace image::link {

using base::fail;

namespace {

LinkResult<std::string> name_at(std::span<const uint8_t> table, uint64_t offset) {
    if (offset >= table.size())
        return fail(std::string("a name lies outside its string table"));
    const char* start = reinterpret_cast<const char*>(table.data()) + offset;
    size_t length = strnlen(start, table.size() - offset);
    if (length == table.size() - offset)
        return fail(std::string("a name runs past the end of its string table"));
    return std::string(start, length);
}

// Field reads that differ between ELF32 and ELF64.
struct Layout {
    bool is_64;
    size_t header_size() const { return is_64 ? 64 : 52; }
    size_t section_header_size() const { return is_64 ? 64 : 40; }
    size_t symbol_size() const { return is_64 ? 24 : 16; }
    size_t rel_size(bool with_addend) const {
        return is_64 ? (with_addend ? 24 : 16) : (with_addend ? 12 : 8);
    }
    uint64_t word(const uint8_t* p) const {
        return is_64 ? base::load_le64(p) : base::load_le32(p);
    }
    size_t word_size() const { return is_64 ? 8 : 4; }
};

}  // namespace

LinkResult<ElfFile> ElfFile::parse(std::span<const uint8_t> bytes) {
    base::ByteView file(bytes);
    static constexpr uint8_t kMagic[] = {0x7F, 'E', 'L', 'F'};
    if (!file.has(0, 52) || std::memcmp(bytes.data(), kMagic, 4) != 0)
        return fail(std::string("not an ELF file"));
    if (bytes[5] != 1)
        return fail(std::string("not a little-endian ELF file"));
    if (bytes[4] != 1 && bytes[4] != 2)
        return fail(std::string("unknown ELF class"));
    ElfFile elf;
    elf.is_64_ = bytes[4] == 2;
    const Layout layout{elf.is_64_};
    if (!file.has(0, layout.header_size()))
        return fail(std::string("ELF header cut short"));
    elf.machine_ = *file.u16(18);

    const uint64_t table = layout.is_64 ? *file.u64(0x28) : *file.u32(0x20);
    const size_t entry_size = *file.u16(layout.is_64 ? 0x3A : 0x2E);
    const size_t count = *file.u16(layout.is_64 ? 0x3C : 0x30);
    const size_t names_index = *file.u16(layout.is_64 ? 0x3E : 0x32);
    if (entry_size != layout.section_header_size())
        return fail(std::string("unexpected section header size"));
    if (count == 0 || names_index >= count)
        return fail(std::string("no section name table"));
    if (!file.has(table, count * entry_size))
        return fail(std::string("section table outside the file"));

    struct Raw {
        uint32_t name;
        ElfSection section;
    };
    std::vector<Raw> raw;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* h = bytes.data() + table + i * entry_size;
        ElfSection s;
        s.type = base::load_le32(h + 4);
        if (layout.is_64) {
            s.flags = base::load_le64(h + 8);
            s.address = base::load_le64(h + 16);
            s.offset = base::load_le64(h + 24);
            s.size = base::load_le64(h + 32);
            s.link = base::load_le32(h + 40);
            s.info = base::load_le32(h + 44);
        } else {
            s.flags = base::load_le32(h + 8);
            s.address = base::load_le32(h + 12);
            s.offset = base::load_le32(h + 16);
            s.size = base::load_le32(h + 20);
            s.link = base::load_le32(h + 24);
            s.info = base::load_le32(h + 28);
        }
        if (s.type != kSectionNobits && s.type != kSectionNull) {
            auto data = file.slice(s.offset, s.size);
            if (!data)
                return fail("section " + std::to_string(i) + " lies outside the file");
            s.bytes = *data;
        }
        raw.push_back({base::load_le32(h), s});
    }
    const std::span<const uint8_t> section_names = raw[names_index].section.bytes;
    for (Raw& r : raw) {
        r.section.name = TRY(name_at(section_names, r.name));
        elf.sections_.push_back(std::move(r.section));
    }

    int symtab = -1;
    for (size_t i = 0; i < elf.sections_.size(); ++i) {
        if (elf.sections_[i].type == kSectionSymtab)
            symtab = static_cast<int>(i);
    }
    if (symtab < 0)
        return fail(std::string("no symbol table (was the file stripped?)"));
    const ElfSection& symbols = elf.sections_[static_cast<size_t>(symtab)];
    if (symbols.link >= elf.sections_.size())
        return fail(std::string("symbol table names no string table"));
    const std::span<const uint8_t> strings = elf.sections_[symbols.link].bytes;
    if (symbols.bytes.size() % layout.symbol_size() != 0)
        return fail(std::string("symbol table size is not a whole number of symbols"));
    for (size_t at = 0; at < symbols.bytes.size(); at += layout.symbol_size()) {
        const uint8_t* s = symbols.bytes.data() + at;
        ElfSymbol symbol;
        uint8_t info;
        if (layout.is_64) {
            info = s[4];
            symbol.section = base::load_le16(s + 6);
            symbol.value = base::load_le64(s + 8);
            symbol.size = base::load_le64(s + 16);
        } else {
            symbol.value = base::load_le32(s + 4);
            symbol.size = base::load_le32(s + 8);
            info = s[12];
            symbol.section = base::load_le16(s + 14);
        }
        symbol.type = info & 0xF;
        symbol.name = TRY(name_at(strings, base::load_le32(s)));
        elf.symbols_.push_back(std::move(symbol));
    }
    return elf;
}

int ElfFile::find_section(const std::string& name) const {
    for (size_t i = 0; i < sections_.size(); ++i) {
        if (sections_[i].name == name)
            return static_cast<int>(i);
    }
    return -1;
}

LinkResult<std::vector<ElfRelocation>> ElfFile::relocations_for(size_t index) const {
    const Layout layout{is_64_};
    std::vector<ElfRelocation> relocations;
    for (const ElfSection& section : sections_) {
        if ((section.type != kSectionRel && section.type != kSectionRela) || section.info != index)
            continue;
        const bool with_addend = section.type == kSectionRela;
        const size_t size = layout.rel_size(with_addend);
        if (section.bytes.size() % size != 0)
            return fail("relocation section " + section.name + " is not a whole number of entries");
        for (size_t at = 0; at < section.bytes.size(); at += size) {
            const uint8_t* r = section.bytes.data() + at;
            ElfRelocation relocation;
            relocation.offset = layout.word(r);
            const uint64_t info = layout.word(r + layout.word_size());
            relocation.type = static_cast<uint32_t>(is_64_ ? (info & 0xFFFFFFFF) : (info & 0xFF));
            relocation.symbol = static_cast<uint32_t>(is_64_ ? (info >> 32) : (info >> 8));
            if (with_addend)
                relocation.addend = is_64_ ? static_cast<int64_t>(base::load_le64(r + 16))
                                           : static_cast<int32_t>(base::load_le32(r + 8));
            if (relocation.symbol >= symbols_.size())
                return fail("a relocation in " + section.name + " names no symbol");
            relocations.push_back(relocation);
        }
    }
    return relocations;
}

}  // namespace image::link
