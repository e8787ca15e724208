// The ELF64 records that the program assembler edits and the Linux stub reads
// to find its image section. Little-endian x86-64 files only.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"

namespace loader::elf64 {

// File header (Elf64_Ehdr), the fields used here.
struct FileHeader {
    static constexpr size_t kSize = 64;
    static constexpr size_t kShoffAt = 0x28;      // u64 e_shoff: file offset of the section table
    static constexpr size_t kShentsizeAt = 0x3A;  // u16 e_shentsize: 64
    static constexpr size_t kShnumAt = 0x3C;      // u16 e_shnum: number of section headers
    static constexpr size_t kShstrndxAt = 0x3E;   // u16 e_shstrndx: index of the section name table
};

// Section header (Elf64_Shdr).
struct SectionHeader {
    static constexpr size_t kSize = 64;
    uint32_t name;        // offset of the name in the section name table
    uint32_t type;        // SHT_*
    uint64_t flags;       // SHF_*
    uint64_t address;     // address in memory, 0 when not loaded
    uint64_t offset;      // file offset of the section's bytes
    uint64_t size;        // bytes in the file (none for SHT_NOBITS)
    uint32_t link;        // type-specific section index
    uint32_t info;        // type-specific
    uint64_t alignment;   // address alignment
    uint64_t entry_size;  // size of one entry for table sections

    static SectionHeader read(const uint8_t* p) {
        return {base::load_le32(p),      base::load_le32(p + 4),  base::load_le64(p + 8),
                base::load_le64(p + 16), base::load_le64(p + 24), base::load_le64(p + 32),
                base::load_le32(p + 40), base::load_le32(p + 44), base::load_le64(p + 48),
                base::load_le64(p + 56)};
    }
    void write(uint8_t* p) const {
        base::store_le32(p, name);
        base::store_le32(p + 4, type);
        base::store_le64(p + 8, flags);
        base::store_le64(p + 16, address);
        base::store_le64(p + 24, offset);
        base::store_le64(p + 32, size);
        base::store_le32(p + 40, link);
        base::store_le32(p + 44, info);
        base::store_le64(p + 48, alignment);
        base::store_le64(p + 56, entry_size);
    }
};

inline constexpr uint32_t kSectionProgbits = 1;
inline constexpr uint32_t kSectionStrtab = 3;
inline constexpr uint32_t kSectionNobits = 8;
inline constexpr uint16_t kMaxSections = 0xFF00;  // SHN_LORESERVE: larger counts use escapes

struct SectionExtent {
    uint64_t offset;
    uint64_t size;
};

inline bool is_elf64_le(std::span<const uint8_t> header) {
    static constexpr uint8_t kIdent[] = {0x7F, 'E', 'L', 'F', 2 /*64-bit*/, 1 /*LE*/};
    return header.size() >= FileHeader::kSize && std::memcmp(header.data(), kIdent, 6) == 0;
}

// Finds a section by name, reading the file through read(offset, span) that
// fills the span or fails. Every offset and count is checked against the file.
template <typename Read>
std::optional<SectionExtent> find_section(Read&& read, uint64_t file_size, std::string_view name) {
    auto fits = [&](uint64_t offset, uint64_t size) {
        return offset <= file_size && size <= file_size - offset;
    };
    uint8_t header[FileHeader::kSize];
    if (!fits(0, sizeof header) || !read(0, std::span<uint8_t>(header)) || !is_elf64_le(header))
        return std::nullopt;
    const uint64_t table = base::load_le64(header + FileHeader::kShoffAt);
    const uint16_t entry_size = base::load_le16(header + FileHeader::kShentsizeAt);
    const uint16_t count = base::load_le16(header + FileHeader::kShnumAt);
    const uint16_t names_index = base::load_le16(header + FileHeader::kShstrndxAt);
    if (entry_size != SectionHeader::kSize || count == 0 || count >= kMaxSections ||
        names_index >= count || !fits(table, uint64_t{count} * SectionHeader::kSize))
        return std::nullopt;

    std::vector<uint8_t> headers(size_t{count} * SectionHeader::kSize);
    if (!read(table, std::span<uint8_t>(headers)))
        return std::nullopt;
    const SectionHeader names =
        SectionHeader::read(headers.data() + size_t{names_index} * SectionHeader::kSize);
    if (names.type != kSectionStrtab || names.size > (1u << 24) || !fits(names.offset, names.size))
        return std::nullopt;
    std::vector<uint8_t> name_table(names.size);
    if (!read(names.offset, std::span<uint8_t>(name_table)))
        return std::nullopt;

    for (uint16_t i = 0; i < count; ++i) {
        const SectionHeader section =
            SectionHeader::read(headers.data() + size_t{i} * SectionHeader::kSize);
        if (section.name >= name_table.size() || section.type == kSectionNobits)
            continue;
        const char* start = reinterpret_cast<const char*>(name_table.data()) + section.name;
        size_t max_length = name_table.size() - section.name;
        std::string_view section_name(start, strnlen(start, max_length));
        if (section_name == name && fits(section.offset, section.size))
            return SectionExtent{section.offset, section.size};
    }
    return std::nullopt;
}

}  // namespace loader::elf64
