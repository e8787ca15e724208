// Binding a program image into memory: each segment gets its place, every
// fixup is applied, the four relocation lists are rewritten into the host's
// own values, DLL declarations and libraries are resolved, the slot table is
// filled, and no page is left both writable and executable.
//
// Placement: the segments in chain order (const, form, help, code, var), each
// at the next 4096-byte boundary after the previous one's size in memory,
// then the slot table on a page of its own. For x86-64 images the whole
// placement lies below 2 GB, so that 32-bit fixups hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/format/image.h"

namespace image {

// Segments start on boundaries of this many bytes; the slot table has a page
// of its own.
inline constexpr size_t kBindPageSize = 4096;

// Bytes per slot table entry: a 32-bit address for i386, 64-bit for x86-64.
inline constexpr size_t slot_entry_size(Architecture architecture) {
    return architecture == Architecture::X86_64 ? 8 : 4;
}

enum class Protection { ReadOnly, ReadWrite, ReadExecute };

// Memory that the host reserved for one image.
struct Placement {
    uint8_t* memory = nullptr;  // where the binder writes
    uint64_t address = 0;       // the run-time address of memory[0]; equal to
                                // memory for a real binding, any value for a
                                // binding into a buffer (checks of i386 images)
    bool zeroed = false;        // the memory is known to hold zeros (fresh pages),
                                // so binding need not clear it
};

// What binding needs of its surroundings: memory, the runtime's slots, and
// the runtime's rewriting of identifiers, DLL declarations and libraries.
class BindHost {
  public:
    virtual ~BindHost() = default;

    // `size` bytes of readable, writable, not executable memory; nullopt when
    // none can be had. For an x86-64 image the memory must lie below 2 GB,
    // for an i386 image below 4 GB (else fixups cannot hold it).
    virtual std::optional<Placement> reserve(size_t size, Architecture architecture) = 0;
    virtual bool protect(const Placement& placement, size_t offset, size_t size,
                         Protection protection) = 0;
    // Gives back the memory of a reservation; binding calls it when it fails
    // after reserving.
    virtual void release(const Placement& placement, size_t size) = 0;

    // Run-time address of the routine behind each slot (index = slot / 4).
    virtual uint64_t slot(size_t index) = 0;

    // Makes a library of the list available (position 0 is the kernel
    // library itself); false when it cannot be loaded.
    virtual bool load_library(const LibraryEntry& library, size_t position) = 0;
    // Address of a declared DLL function; nullopt when it cannot be found.
    virtual std::optional<uint64_t> resolve_dll(const DllDeclaration& declaration) = 0;

    // The runtime's own value for a value named by a relocation list;
    // nullopt refuses the image.
    virtual std::optional<uint32_t> rewrite_identifier(uint32_t identifier) = 0;
    virtual std::optional<uint32_t> rewrite_dll_number(uint32_t number) = 0;
    virtual std::optional<uint32_t> rewrite_library_position(uint32_t position) = 0;
    virtual std::optional<uint32_t> rewrite_type_reference(uint32_t type) = 0;
};

struct BoundImage {
    Placement placement;
    size_t size = 0;  // bytes reserved
    Architecture architecture = Architecture::I386;
    uint64_t const_address = 0;  // run-time addresses of the segments
    uint64_t form_address = 0;
    uint64_t help_address = 0;
    uint64_t code_address = 0;
    uint64_t var_address = 0;
    uint64_t slot_table_address = 0;
    uint64_t start_routine = 0;           // run-time address of the start routine
    std::vector<uint64_t> dll_addresses;  // per declaration
    Image model;                          // the image as read (form, windows, ...)

    uint64_t code_offset_address(uint32_t offset) const { return code_address + offset; }
};

// Binds the image, asking the host for everything it needs; on failure the
// reserved memory (if any) is released and the error names the cause.
ImageResult<BoundImage> bind_image(std::span<const uint8_t> image_bytes, BindHost& host);

}  // namespace image
