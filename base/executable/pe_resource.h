// The resource tree of a PE file: the records of its three levels (type,
// name, language) and a lookup by numeric type and id. Every offset of the
// tree is checked against the resource directory's extent before it is read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/executable/pe.h"

namespace loader::pe {

inline constexpr uint32_t kDirectoryResource = 2;
inline constexpr uint32_t kResourceTypeManifest = 24;  // RT_MANIFEST
// The manifest the system applies at process creation
// (CREATEPROCESS_MANIFEST_RESOURCE_ID).
inline constexpr uint32_t kProcessManifestId = 1;

// One entry of the optional header's data directory.
struct DataDirectory {
    uint32_t rva;   // where the table lies in memory; 0 when there is none
    uint32_t size;  // bytes of the table
};

// IMAGE_RESOURCE_DIRECTORY: heads one level of the tree; its entries follow.
struct ResourceDirectory {
    static constexpr size_t kSize = 16;
    uint32_t characteristics;    // reserved, 0
    uint32_t time_stamp;         // when the resource compiler wrote it
    uint16_t major_version;      // user-set, unused by the system
    uint16_t minor_version;      // user-set, unused by the system
    uint16_t named_entry_count;  // entries with a string name; they come first
    uint16_t id_entry_count;     // entries with a numeric id, after the named ones
};

// IMAGE_RESOURCE_DIRECTORY_ENTRY: one branch of a level.
struct ResourceDirectoryEntry {
    static constexpr size_t kSize = 8;
    static constexpr uint32_t kHighBit = 0x80000000;
    uint32_t name;    // high bit set: tree offset of a counted UTF-16 name; else the id
    uint32_t target;  // high bit set: tree offset of the next level's directory;
                      // else tree offset of a data entry (at the language level)
};

// IMAGE_RESOURCE_DATA_ENTRY: a leaf, saying where one resource's bytes are.
struct ResourceDataEntry {
    static constexpr size_t kSize = 16;
    uint32_t data_rva;   // RVA of the bytes: not an offset in the tree
    uint32_t size;       // bytes of the resource
    uint32_t code_page;  // code page of text resources; usually 0
    uint32_t reserved;   // 0
};

// A resource found in the file.
struct Resource {
    ResourceDataEntry entry;
    uint16_t language;     // the language entry's id
    uint64_t file_offset;  // where entry.size bytes of it lie in the file
};

// Data directory entry `index`, or nullopt when the optional header is too
// short for it.
std::optional<DataDirectory> data_directory(std::span<const uint8_t> file, const PeFile& pe,
                                            uint32_t index);

// File offset of `length` bytes at `rva`, when one section's file data holds
// them all and they lie within that section's mapped size.
std::optional<uint64_t> rva_to_file_offset(const PeFile& pe, uint64_t file_size, uint64_t rva,
                                           uint64_t length);

// The resource of numeric type `type` and numeric id `id`, in its first
// language. On failure `error` says which check failed.
std::optional<Resource> find_resource(std::span<const uint8_t> file, const PeFile& pe,
                                      uint32_t type, uint32_t id, std::string& error);

}  // namespace loader::pe
