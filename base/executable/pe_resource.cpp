#include "base/executable/pe_resource.h"

#include <algorithm>

namespace loader::pe {

namespace {

// The resource tree, read through offsets relative to its start.
class Tree {
  public:
    explicit Tree(std::span<const uint8_t> bytes) : view_(bytes) {}

    std::optional<ResourceDirectory> directory(uint32_t at) const {
        if (!view_.has(at, ResourceDirectory::kSize))
            return std::nullopt;
        return ResourceDirectory{*view_.u32(at),      *view_.u32(at + 4),  *view_.u16(at + 8),
                                 *view_.u16(at + 10), *view_.u16(at + 12), *view_.u16(at + 14)};
    }

    std::optional<ResourceDirectoryEntry> entry(uint32_t directory_at, uint32_t index) const {
        const uint64_t at = uint64_t{directory_at} + ResourceDirectory::kSize +
                            uint64_t{index} * ResourceDirectoryEntry::kSize;
        if (!view_.has(at, ResourceDirectoryEntry::kSize))
            return std::nullopt;
        return ResourceDirectoryEntry{*view_.u32(at), *view_.u32(at + 4)};
    }

    std::optional<ResourceDataEntry> data(uint32_t at) const {
        if (!view_.has(at, ResourceDataEntry::kSize))
            return std::nullopt;
        return ResourceDataEntry{*view_.u32(at), *view_.u32(at + 4), *view_.u32(at + 8),
                                 *view_.u32(at + 12)};
    }

  private:
    base::ByteView view_;
};

}  // namespace

std::optional<DataDirectory> data_directory(std::span<const uint8_t> file, const PeFile& pe,
                                            uint32_t index) {
    if (index >= pe.optional.directory_count)
        return std::nullopt;
    const uint64_t at = (pe.is_pe32_plus() ? 112 : 96) + uint64_t{index} * 8;
    if (at + 8 > pe.coff.optional_header_size)
        return std::nullopt;
    base::ByteView view(file);
    auto rva = view.u32(pe.optional_at + at);
    auto size = view.u32(pe.optional_at + at + 4);
    if (!rva || !size)
        return std::nullopt;
    return DataDirectory{*rva, *size};
}

std::optional<uint64_t> rva_to_file_offset(const PeFile& pe, uint64_t file_size, uint64_t rva,
                                           uint64_t length) {
    for (const SectionHeader& section : pe.sections) {
        // The system maps no more of a section's file data than its virtual size.
        const uint64_t held = section.virtual_size != 0
                                  ? std::min(section.raw_size, section.virtual_size)
                                  : section.raw_size;
        if (rva < section.virtual_address || rva - section.virtual_address > held ||
            length > held - (rva - section.virtual_address))
            continue;
        const uint64_t offset = section.raw_offset + (rva - section.virtual_address);
        if (offset <= file_size && length <= file_size - offset)
            return offset;
    }
    return std::nullopt;
}

std::optional<Resource> find_resource(std::span<const uint8_t> file, const PeFile& pe,
                                      uint32_t type, uint32_t id, std::string& error) {
    auto fail = [&](const char* why) -> std::optional<Resource> {
        error = why;
        return std::nullopt;
    };
    auto table = data_directory(file, pe, kDirectoryResource);
    if (!table || table->rva == 0 || table->size == 0)
        return fail("no resource directory");
    auto table_at = rva_to_file_offset(pe, file.size(), table->rva, table->size);
    if (!table_at)
        return fail("resource directory outside the file");
    Tree tree(file.subspan(*table_at, table->size));

    // Type and name: the entry with the wanted id must lead to a subdirectory.
    // The fixed depth keeps a looping tree from being followed forever.
    uint32_t level_at = 0;
    for (uint32_t wanted : {type, id}) {
        auto level = tree.directory(level_at);
        if (!level)
            return fail("resource directory record outside the tree");
        std::optional<uint32_t> next;
        const uint32_t first_id = level->named_entry_count;
        const uint32_t count = first_id + level->id_entry_count;
        for (uint32_t i = first_id; i < count && !next; ++i) {
            auto entry = tree.entry(level_at, i);
            if (!entry)
                return fail("resource directory entry outside the tree");
            if (entry->name != wanted)
                continue;
            if ((entry->target & ResourceDirectoryEntry::kHighBit) == 0)
                return fail("resource type or name leads to data, not to a directory");
            next = entry->target & ~ResourceDirectoryEntry::kHighBit;
        }
        if (!next)
            return fail("no resource of that type and id");
        level_at = *next;
    }

    // Language: the first entry, which must be a leaf.
    auto languages = tree.directory(level_at);
    if (!languages)
        return fail("resource directory record outside the tree");
    if (languages->named_entry_count + languages->id_entry_count == 0)
        return fail("resource without a language");
    auto language = tree.entry(level_at, 0);
    if (!language)
        return fail("resource directory entry outside the tree");
    if ((language->target & ResourceDirectoryEntry::kHighBit) != 0)
        return fail("resource language leads to a directory, not to data");
    auto data = tree.data(language->target);
    if (!data)
        return fail("resource data entry outside the tree");
    auto data_at = rva_to_file_offset(pe, file.size(), data->data_rva, data->size);
    if (!data_at)
        return fail("resource data outside the file");
    return Resource{*data, static_cast<uint16_t>(language->name), *data_at};
}

}  // namespace loader::pe
