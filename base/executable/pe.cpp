#include "base/executable/pe.h"

#include <cstring>

namespace loader::pe {

std::string SectionHeader::name_text() const {
    return std::string(name, strnlen(name, sizeof name));
}

uint64_t PeFile::sections_end() const {
    uint64_t end = optional.size_of_headers;
    for (const SectionHeader& section : sections) {
        if (section.raw_size != 0)
            end = std::max<uint64_t>(end, uint64_t{section.raw_offset} + section.raw_size);
    }
    return end;
}

const SectionHeader* PeFile::find(const std::string& name) const {
    for (const SectionHeader& section : sections) {
        if (section.name_text() == name)
            return &section;
    }
    return nullptr;
}

std::optional<PeFile> parse(std::span<const uint8_t> bytes, std::string& error) {
    base::ByteView file(bytes);
    auto fail = [&](const char* why) -> std::optional<PeFile> {
        error = why;
        return std::nullopt;
    };
    if (file.u16(0) != 0x5A4D)
        return fail("no MZ signature");
    auto lfanew = file.u32(kDosLfanewAt);
    if (!lfanew || file.u32(*lfanew) != 0x00004550)
        return fail("no PE signature at e_lfanew");

    PeFile pe;
    pe.coff_at = *lfanew + 4;
    if (!file.has(pe.coff_at, kCoffHeaderSize))
        return fail("COFF header outside the file");
    const uint8_t* c = bytes.data() + pe.coff_at;
    pe.coff = {base::load_le16(c),     base::load_le16(c + 2),  base::load_le32(c + 4),
               base::load_le32(c + 8), base::load_le32(c + 12), base::load_le16(c + 16),
               base::load_le16(c + 18)};

    pe.optional_at = pe.coff_at + kCoffHeaderSize;
    if (!file.has(pe.optional_at, pe.coff.optional_header_size))
        return fail("optional header outside the file");
    auto optional = *file.slice(pe.optional_at, pe.coff.optional_header_size);
    base::ByteView opt(optional);
    auto magic = opt.u16(0);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus)
        return fail("unknown optional header magic");
    const bool plus = magic == kMagicPe32Plus;
    const size_t directories_at = plus ? 112 : 96;
    std::optional<uint64_t> image_base = opt.u64(24);
    if (!plus)
        image_base = opt.u32(28);
    auto directory_count = opt.u32(plus ? 108 : 92);
    if (!image_base || !directory_count || !opt.has(0, directories_at))
        return fail("optional header too short");
    pe.optional.magic = *magic;
    pe.optional.image_base = *image_base;
    pe.optional.section_alignment = *opt.u32(32);
    pe.optional.file_alignment = *opt.u32(36);
    pe.optional.size_of_image = *opt.u32(56);
    pe.optional.size_of_headers = *opt.u32(60);
    pe.optional.subsystem = *opt.u16(68);
    pe.optional.dll_characteristics = *opt.u16(70);
    pe.optional.directory_count = *directory_count;
    if (*directory_count > kDirectoryBaseRelocation) {
        auto size = opt.u32(directories_at + kDirectoryBaseRelocation * 8 + 4);
        if (!size)
            return fail("data directory outside the optional header");
        pe.optional.base_relocation_size = *size;
    }
    if (pe.optional.file_alignment == 0 || pe.optional.section_alignment == 0)
        return fail("zero alignment");

    pe.section_table_at = pe.optional_at + pe.coff.optional_header_size;
    if (!file.has(pe.section_table_at, size_t{pe.coff.section_count} * kSectionHeaderSize))
        return fail("section table outside the file");
    for (uint16_t i = 0; i < pe.coff.section_count; ++i) {
        const uint8_t* s = bytes.data() + pe.section_table_at + size_t{i} * kSectionHeaderSize;
        SectionHeader section;
        std::memcpy(section.name, s, 8);
        section.virtual_size = base::load_le32(s + 8);
        section.virtual_address = base::load_le32(s + 12);
        section.raw_size = base::load_le32(s + 16);
        section.raw_offset = base::load_le32(s + 20);
        section.relocations_offset = base::load_le32(s + 24);
        section.line_numbers_offset = base::load_le32(s + 28);
        section.relocation_count = base::load_le16(s + 32);
        section.line_number_count = base::load_le16(s + 34);
        section.characteristics = base::load_le32(s + 36);
        if (section.raw_size != 0 && !file.has(section.raw_offset, section.raw_size))
            return fail("section data outside the file");
        pe.sections.push_back(section);
    }
    return pe;
}

void write_section_header(uint8_t* at, const SectionHeader& section) {
    std::memcpy(at, section.name, 8);
    base::store_le32(at + 8, section.virtual_size);
    base::store_le32(at + 12, section.virtual_address);
    base::store_le32(at + 16, section.raw_size);
    base::store_le32(at + 20, section.raw_offset);
    base::store_le32(at + 24, section.relocations_offset);
    base::store_le32(at + 28, section.line_numbers_offset);
    base::store_le16(at + 32, section.relocation_count);
    base::store_le16(at + 34, section.line_number_count);
    base::store_le32(at + 36, section.characteristics);
}

}  // namespace loader::pe
