// A reader of linked ELF files (ELF32 i386 and ELF64 x86-64, little-endian):
// sections, symbols and relocations, every offset checked against the file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/error_or.h"
#include "base/error.h"

namespace image::link {

template <typename T>
using LinkResult = base::Result<T>;

inline constexpr uint16_t kMachineI386 = 3;
inline constexpr uint16_t kMachineX86_64 = 62;

inline constexpr uint32_t kSectionNull = 0;
inline constexpr uint32_t kSectionProgbits = 1;
inline constexpr uint32_t kSectionSymtab = 2;
inline constexpr uint32_t kSectionRela = 4;
inline constexpr uint32_t kSectionNobits = 8;
inline constexpr uint32_t kSectionRel = 9;
inline constexpr uint64_t kSectionFlagAlloc = 0x2;

inline constexpr uint16_t kSymbolUndefined = 0;
inline constexpr uint16_t kSymbolAbsolute = 0xFFF1;

struct ElfSection {
    std::string name;
    uint32_t type = 0;   // SHT_*
    uint64_t flags = 0;  // SHF_*
    uint64_t address = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t link = 0;               // for relocation sections: the symbol table
    uint32_t info = 0;               // for relocation sections: the section they apply to
    std::span<const uint8_t> bytes;  // empty for SHT_NOBITS
};

struct ElfSymbol {
    std::string name;
    uint64_t value = 0;
    uint64_t size = 0;
    uint16_t section = 0;  // section index, kSymbolUndefined or kSymbolAbsolute
    uint8_t type = 0;      // STT_*: 0 none, 1 object, 2 function, 3 section
};

struct ElfRelocation {
    uint64_t offset = 0;  // address of the site (linked file)
    uint32_t type = 0;    // R_386_* or R_X86_64_*
    uint32_t symbol = 0;  // index into the symbol table
    int64_t addend = 0;   // RELA only; REL keeps it in the site
};

class ElfFile {
  public:
    static LinkResult<ElfFile> parse(std::span<const uint8_t> bytes);

    bool is_64() const { return is_64_; }
    uint16_t machine() const { return machine_; }
    const std::vector<ElfSection>& sections() const { return sections_; }
    const std::vector<ElfSymbol>& symbols() const { return symbols_; }
    // Index of the section of that name, or -1.
    int find_section(const std::string& name) const;
    // Relocations that apply to section `index` (from its .rel or .rela section).
    LinkResult<std::vector<ElfRelocation>> relocations_for(size_t index) const;

  private:
    bool is_64_ = false;
    uint16_t machine_ = 0;
    std::vector<ElfSection> sections_;
    std::vector<ElfSymbol> symbols_;
};

}  // namespace image::link
