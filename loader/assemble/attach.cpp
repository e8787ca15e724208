#include "loader/assemble/attach.h"

#include <cstring>

#include "base/byte_reader.h"
#include "base/executable/elf64.h"
#include "base/executable/image_section.h"
#include "base/executable/pe.h"

namespace loader {

using base::fail;

namespace {

uint64_t align_up(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void pad_to(std::vector<uint8_t>& out, uint64_t size) {
    if (out.size() < size)
        out.resize(size, 0);
}

constexpr uint64_t kImageAlignment = 4096;

}  // namespace

ToolResult<std::vector<uint8_t>> attach_image_elf(std::span<const uint8_t> stub,
                                                  std::span<const uint8_t> image) {
    auto read = [&](uint64_t offset, std::span<uint8_t> out) {
        if (offset > stub.size() || out.size() > stub.size() - offset)
            return false;
        if (!out.empty())
            std::memcpy(out.data(), stub.data() + offset, out.size());
        return true;
    };
    if (!elf64::is_elf64_le(stub))
        return fail(std::string("the stub is not a little-endian ELF64 file"));
    if (elf64::find_section(read, stub.size(), kImageSectionName))
        return fail(std::string("the stub already carries an image section"));
    // find_section has checked the section table and the name table.
    if (!elf64::find_section(read, stub.size(), ".shstrtab"))
        return fail(std::string("the stub has no readable section table"));

    const uint64_t table_at = base::load_le64(stub.data() + elf64::FileHeader::kShoffAt);
    const uint16_t count = base::load_le16(stub.data() + elf64::FileHeader::kShnumAt);
    const uint16_t names_index = base::load_le16(stub.data() + elf64::FileHeader::kShstrndxAt);
    std::vector<elf64::SectionHeader> sections;
    for (uint16_t i = 0; i < count; ++i)
        sections.push_back(elf64::SectionHeader::read(stub.data() + table_at + size_t{i} * 64));
    if (count + 1 >= elf64::kMaxSections)
        return fail(std::string("the stub has too many sections"));

    std::vector<uint8_t> out(stub.begin(), stub.end());

    // A new name table: the old names and the image section's.
    elf64::SectionHeader& names = sections[names_index];
    pad_to(out, align_up(out.size(), 8));
    const uint64_t names_at = out.size();
    out.insert(out.end(), stub.begin() + static_cast<ptrdiff_t>(names.offset),
               stub.begin() + static_cast<ptrdiff_t>(names.offset + names.size));
    const uint32_t image_name = static_cast<uint32_t>(names.size);
    out.insert(out.end(), kImageSectionName, kImageSectionName + sizeof kImageSectionName);
    names.offset = names_at;
    names.size = out.size() - names_at;

    pad_to(out, align_up(out.size(), kImageAlignment));
    elf64::SectionHeader image_section{};
    image_section.name = image_name;
    image_section.type = elf64::kSectionProgbits;
    image_section.offset = out.size();
    image_section.size = image.size();
    image_section.alignment = kImageAlignment;
    out.insert(out.end(), image.begin(), image.end());
    sections.push_back(image_section);

    pad_to(out, align_up(out.size(), 8));
    const uint64_t new_table_at = out.size();
    out.resize(out.size() + sections.size() * elf64::SectionHeader::kSize);
    for (size_t i = 0; i < sections.size(); ++i)
        sections[i].write(out.data() + new_table_at + i * elf64::SectionHeader::kSize);
    base::store_le64(out.data() + elf64::FileHeader::kShoffAt, new_table_at);
    base::store_le16(out.data() + elf64::FileHeader::kShnumAt,
                     static_cast<uint16_t>(sections.size()));
    return out;
}

ToolResult<std::vector<uint8_t>> attach_image_pe(std::span<const uint8_t> stub,
                                                 std::span<const uint8_t> image) {
    std::string why;
    auto parsed = pe::parse(stub, why);
    if (!parsed)
        return fail("the stub is not a valid PE file: " + why);
    const pe::PeFile& file = *parsed;
    if (file.find(kImageSectionName))
        return fail(std::string("the stub already carries an image section"));
    if (file.coff.symbol_table_offset != 0)
        return fail(std::string("the stub carries COFF symbols behind its sections; strip it"));
    if (file.sections_end() != stub.size())
        return fail(std::string("the stub has data behind its last section"));
    if (image.empty() || image.size() > 0x7FFF0000)
        return fail(std::string("the image is empty or too large"));

    const size_t new_header_at =
        file.section_table_at + file.sections.size() * pe::kSectionHeaderSize;
    uint64_t first_data = file.optional.size_of_headers;
    for (const pe::SectionHeader& section : file.sections) {
        if (section.raw_size != 0)
            first_data = std::min<uint64_t>(first_data, section.raw_offset);
    }
    if (new_header_at + pe::kSectionHeaderSize > first_data)
        return fail(std::string("no room for another section header"));

    uint64_t memory_end = 0;
    for (const pe::SectionHeader& section : file.sections) {
        uint64_t size = std::max(section.virtual_size, section.raw_size);
        memory_end = std::max<uint64_t>(memory_end, uint64_t{section.virtual_address} + size);
    }
    pe::SectionHeader image_section{};
    std::memcpy(image_section.name, kImageSectionName, sizeof kImageSectionName - 1);
    image_section.virtual_size = static_cast<uint32_t>(image.size());
    image_section.virtual_address =
        static_cast<uint32_t>(align_up(memory_end, file.optional.section_alignment));
    image_section.raw_size = static_cast<uint32_t>(
        align_up(align_up(image.size(), kImageAlignment), file.optional.file_alignment));
    image_section.raw_offset =
        static_cast<uint32_t>(align_up(stub.size(), file.optional.file_alignment));
    image_section.characteristics = pe::kSectionInitializedData | pe::kSectionMemRead;

    std::vector<uint8_t> out(stub.begin(), stub.end());
    pe::write_section_header(out.data() + new_header_at, image_section);
    base::store_le16(out.data() + file.coff_at + 2,
                     static_cast<uint16_t>(file.sections.size() + 1));
    uint8_t* optional = out.data() + file.optional_at;
    base::store_le32(
        optional + pe::kOptSizeOfInitializedDataAt,
        base::load_le32(optional + pe::kOptSizeOfInitializedDataAt) + image_section.raw_size);
    base::store_le32(
        optional + pe::kOptSizeOfImageAt,
        static_cast<uint32_t>(align_up(uint64_t{image_section.virtual_address} + image.size(),
                                       file.optional.section_alignment)));
    base::store_le32(optional + pe::kOptCheckSumAt, 0);

    pad_to(out, image_section.raw_offset);
    out.insert(out.end(), image.begin(), image.end());
    pad_to(out, uint64_t{image_section.raw_offset} + image_section.raw_size);
    return out;
}

ToolResult<std::vector<uint8_t>> attach_image(std::span<const uint8_t> stub,
                                              std::span<const uint8_t> image) {
    if (elf64::is_elf64_le(stub))
        return attach_image_elf(stub, image);
    if (stub.size() >= 2 && stub[0] == 'M' && stub[1] == 'Z')
        return attach_image_pe(stub, image);
    return fail(std::string("the stub is neither an ELF64 nor a PE file"));
}

}  // namespace loader
