// The PE records that the program assembler edits and the structural checks
// read. PE32 and PE32+ alike; every read is bounds-checked.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/byte_reader.h"

namespace loader::pe {

inline constexpr size_t kDosLfanewAt = 0x3C;  // u32 e_lfanew: file offset of "PE\0\0"
inline constexpr size_t kCoffHeaderSize = 20;
inline constexpr size_t kSectionHeaderSize = 40;
inline constexpr uint16_t kMagicPe32 = 0x10B;
inline constexpr uint16_t kMagicPe32Plus = 0x20B;
inline constexpr uint16_t kMachineI386 = 0x14C;
inline constexpr uint16_t kMachineAmd64 = 0x8664;
inline constexpr uint16_t kFileRelocsStripped = 0x0001;
inline constexpr uint16_t kSubsystemGui = 2;
inline constexpr uint16_t kDllDynamicBase = 0x0040;
inline constexpr uint32_t kDirectoryBaseRelocation = 5;
inline constexpr uint32_t kSectionInitializedData = 0x00000040;
inline constexpr uint32_t kSectionMemRead = 0x40000000;

// COFF file header, behind the "PE\0\0" signature.
struct CoffHeader {
    uint16_t machine;               // kMachineI386 or kMachineAmd64
    uint16_t section_count;         // entries of the section table
    uint32_t time_stamp;            // link time
    uint32_t symbol_table_offset;   // COFF symbols (0 in a stripped file)
    uint32_t symbol_count;          // COFF symbols
    uint16_t optional_header_size;  // bytes of the optional header
    uint16_t characteristics;       // kFileRelocsStripped, ...
};

// The optional header fields used here, at their PE32 / PE32+ offsets.
struct OptionalHeader {
    uint16_t magic;                 // kMagicPe32 or kMagicPe32Plus
    uint64_t image_base;            // preferred load address
    uint32_t section_alignment;     // alignment of sections in memory
    uint32_t file_alignment;        // alignment of section data in the file
    uint32_t size_of_image;         // memory size of all sections, aligned
    uint32_t size_of_headers;       // file size of headers and section table
    uint16_t subsystem;             // kSubsystemGui, ...
    uint16_t dll_characteristics;   // kDllDynamicBase, ...
    uint32_t directory_count;       // entries of the data directory
    uint32_t base_relocation_size;  // size of the base relocation directory
};

// One section header.
struct SectionHeader {
    char name[8];                  // zero-padded, not always terminated
    uint32_t virtual_size;         // bytes in memory
    uint32_t virtual_address;      // offset from the image base
    uint32_t raw_size;             // bytes in the file, FileAlignment multiple
    uint32_t raw_offset;           // file offset of the bytes
    uint32_t relocations_offset;   // object files only
    uint32_t line_numbers_offset;  // obsolete
    uint16_t relocation_count;     // object files only
    uint16_t line_number_count;    // obsolete
    uint32_t characteristics;      // kSection* flags

    std::string name_text() const;
};

// A parsed PE file: where its headers lie, and their values.
struct PeFile {
    size_t coff_at = 0;           // file offset of the COFF header
    size_t optional_at = 0;       // file offset of the optional header
    size_t section_table_at = 0;  // file offset of the first section header
    CoffHeader coff{};
    OptionalHeader optional{};
    std::vector<SectionHeader> sections;

    bool is_pe32_plus() const { return optional.magic == kMagicPe32Plus; }
    // End of the last section's data in the file.
    uint64_t sections_end() const;
    const SectionHeader* find(const std::string& name) const;
};

// Parses a PE file, checking every header against the file's bytes. On
// failure `error` says which check failed.
std::optional<PeFile> parse(std::span<const uint8_t> file, std::string& error);

// Field offsets inside the optional header that the assembler rewrites.
inline constexpr size_t kOptSizeOfInitializedDataAt = 8;
inline constexpr size_t kOptSizeOfImageAt = 56;
inline constexpr size_t kOptCheckSumAt = 64;

void write_section_header(uint8_t* at, const SectionHeader& section);

}  // namespace loader::pe
