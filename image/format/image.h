// The program image: its records on disk and the model that the reader
// produces and the writer consumes.
//
// Layout (little-endian, offsets from the image's first byte):
//
//   header (0x58 bytes)
//   DLL declaration table: n library-name offsets, n function-name offsets
//   library list
//   segment chain: const, form, help, code, var, @reloc1 — each a segment
//   header (56 bytes + 4 per fixup) followed by its stored data
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error_or.h"
#include "base/error.h"

namespace image {

// ---- On-disk records ----

// The header area, from offset 0:
//   ImageHeader (0x58 bytes)
//   0x58          n x u32: offset of each DLL declaration's library name in const data
//   0x58 + 4n     n x u32: offset of each DLL declaration's function name in const data
//   0x58 + 8n     library list: entries, each zero-terminated, then one zero byte;
//                 it ends exactly at ImageHeader::first_segment
// A library list entry holds five fields separated by kLibraryFieldSeparator:
// name, identifier, major version, minor version, description.
inline constexpr uint8_t kLibraryFieldSeparator = 0x0D;
inline constexpr size_t kLibraryFieldCount = 5;
inline constexpr std::string_view kKernelLibraryName = "krnln";  // always the first entry

// The image header.
struct ImageHeader {
    static constexpr size_t kSize = 0x58;
    static constexpr uint16_t kMagic = 0x4A57;  // "WJ"
    uint16_t magic;                             // 0x00: kMagic
    // 0x02..0x23: 34 zero bytes, not kept
    uint32_t first_segment;  // 0x24: offset of the first segment header (end of the header area)
    uint32_t constant_1;     // 0x28: 1
    uint32_t constant_3;     // 0x2C: 3
    uint32_t architecture;   // 0x30: 0 for i386, 1 for x86-64
    uint32_t next_free_id;   // 0x34: 0x0001NNNN, above every identifier number in use
    uint32_t dll_count;      // 0x38: number of DLL declarations, n
    uint32_t start_routine;  // 0x3C: offset of the start routine in the code segment's data
    uint32_t const_segment;  // 0x40: offset of the const segment header
    uint32_t form_segment;   // 0x44: offset of the form segment header
    uint32_t help_segment;   // 0x48: offset of the help segment header
    uint32_t code_segment;   // 0x4C: offset of the code segment header
    uint32_t var_segment;    // 0x50: offset of the var segment header
    uint32_t first_segment_again;  // 0x54: equal to first_segment
};

// A segment header; its fixups follow it directly.
struct SegmentHeader {
    static constexpr size_t kSize = 56;
    static constexpr uint32_t kNoNext = 0xFFFFFFFF;
    static constexpr uint32_t kNoData = 0xFFFFFFFF;
    static constexpr size_t kNameSize = 24;
    uint32_t header_length;  // +0: 56 + 4 * fixup_count
    uint32_t next_header;    // +4: offset of the next segment header; kNoNext in the last
    uint32_t flags;          // +8: kSegment* bits
    char name[kNameSize];    // +12: ASCII, zero-padded
    uint32_t memory_size;    // +36: size in memory
    uint32_t stored_size;    // +40: size of the stored data (0 for var)
    uint32_t data_offset;    // +44: offset of the stored data; kNoData when there is none
    uint32_t fixup_count;    // +48: fixups that follow the header
    uint32_t zero;           // +52: 0
};

inline constexpr uint32_t kSegmentReadable = 0x01;
inline constexpr uint32_t kSegmentWritable = 0x02;
inline constexpr uint32_t kSegmentExecutable = 0x04;
inline constexpr uint32_t kSegmentZeroFilled = 0x10;
inline constexpr uint32_t kFlagsConst = kSegmentReadable;                      // 1
inline constexpr uint32_t kFlagsCode = kSegmentReadable | kSegmentExecutable;  // 5
inline constexpr uint32_t kFlagsVar =
    kSegmentReadable | kSegmentWritable | kSegmentZeroFilled;  // 0x13

// The segments of the chain, in chain order.
inline constexpr size_t kSegmentCount = 6;
inline constexpr std::string_view kSegmentNames[kSegmentCount] = {"const", "form", "help",
                                                                  "code",  "var",  "@reloc1"};
inline constexpr uint32_t kSegmentFlags[kSegmentCount] = {kFlagsConst, kFlagsConst, kFlagsConst,
                                                          kFlagsCode,  kFlagsVar,   kFlagsConst};
enum SegmentIndex : size_t {
    kConstSegment,
    kFormSegment,
    kHelpSegment,
    kCodeSegment,
    kVarSegment,
    kRelocSegment,
};

// A fixup: (offset in the segment's data) * 8 + kind. The 32-bit value at
// the offset is an offset into the target; binding adds the target's address.
enum class FixupKind : uint8_t {
    SlotTable = 0,  // the runtime slot table
    Const = 1,      // const segment data
    Var = 2,        // var segment
    Code = 3,       // code segment data
};

// The 32-bit value at a fixup site is a signed offset into its target: it
// may lie a little before or past the target (compilers address an array
// through a base a few elements away from it), at most this far.
constexpr int64_t kFixupReach = 4096;

// Whether `value`, read as a signed offset, lies within reach of a target of
// `size` bytes.
inline bool fixup_value_in_reach(uint32_t value, uint64_t size) {
    const int64_t offset = static_cast<int32_t>(value);
    return offset >= -kFixupReach && offset <= static_cast<int64_t>(size) + kFixupReach;
}

struct Fixup {
    uint32_t offset;  // byte offset in the segment's data
    FixupKind kind;
    uint32_t encode() const { return offset * 8 + static_cast<uint32_t>(kind); }
    static std::optional<Fixup> decode(uint32_t raw);
    bool operator==(const Fixup&) const = default;
};

// The form segment:
//   u32 L (8 x window count), L/8 x u32 window identifiers, L/8 x u32 reserved
//   words (one per window), then one window block per window in table order,
//   filling the rest of the segment exactly.
//
// A window block: WindowBlockHeader, unit_count x u32 unit identifiers,
// unit_count x u32 record offsets (counted from the end of this array,
// ascending), then the unit records, each a u32 length and that many bytes.
struct WindowBlockHeader {
    static constexpr size_t kSize = 24;
    uint32_t reserved;      // +0: kept in the model (Window::block_reserved)
    uint32_t block_id;      // +4: class 0x19 identifier, or 0
    uint32_t zero_1;        // +8: 0
    uint32_t zero_2;        // +12: 0
    uint32_t unit_count;    // +16: units, the window's own record included and first
    uint32_t block_length;  // +20: bytes from the next field to the end of the block
};

// A unit record, after its u32 length:
//   u32     type reference
//   20      zero bytes
//   text    name, zero-terminated GBK (empty for the window's own record)
//   text    second text, zero-terminated
//   u32     0
//   4 x i32 left, top, width, height
//   u32     0
//   u32     parent
//   u32     child count k, then k x u32 children
//   u32     kUnitFixedField
//   2 x u32 0
//   u8      0
//   u32     flags (kUnit* bits)
//   u32     0
//   u32     event count e, then e x (i32 event number, u32 handler offset in code data)
//   ...     properties, to the end of the record
inline constexpr size_t kUnitTypePadding = 20;
inline constexpr uint32_t kUnitFixedField = 4;

// Identifier classes (the top byte of an identifier); the low 16 bits are
// the identifier number that ImageHeader::next_free_id stays above.
inline constexpr uint8_t kClassWindow = 0x52;
inline constexpr uint8_t kClassWindowRecord = 0x06;  // also allowed for other units
inline constexpr uint8_t kClassUnit = 0x16;
inline constexpr uint8_t kClassBlock = 0x19;
inline constexpr uint8_t identifier_class(uint32_t id) {
    return static_cast<uint8_t>(id >> 24);
}
inline constexpr uint32_t identifier_number(uint32_t id) {
    return id & 0xFFFF;
}

// The help segment: zero bytes.
inline constexpr size_t kHelpSize = 52;

// ---- The model ----

enum class Architecture : uint32_t { I386 = 0, X86_64 = 1 };

struct DllDeclaration {
    std::string library;   // as written: "user32", "User32", "user32.dll", or empty
    std::string function;  // exported name
    bool operator==(const DllDeclaration&) const = default;
};

// One library list entry; stored as five fields separated by 0x0D.
struct LibraryEntry {
    std::string name;        // "krnln", "eCompress", ...
    std::string identifier;  // 32 hexadecimal digits, letter case as stored
    std::string major;       // version, decimal text
    std::string minor;
    std::string description;  // GBK
    bool operator==(const LibraryEntry&) const = default;
};

struct UnitEvent {
    int32_t event;     // 0 main event, -1 left button on a transparent label, ...
    uint32_t handler;  // offset of the routine in the code segment's data
    bool operator==(const UnitEvent&) const = default;
};

// A unit record. The window's own record (class 0x06) comes first in its block.
struct Unit {
    uint32_t id = 0;          // 0x06010000-style (window's own) or 0x16...
    uint32_t type = 0;        // type reference
    std::string name;         // GBK; empty for the window's own record
    std::string second_text;  // empty in every known record
    int32_t left = 0, top = 0, width = 0, height = 0;
    uint32_t parent = 0;  // containing unit, 0 for the window
    std::vector<uint32_t> children;
    uint32_t flags = 0;  // kUnitVisible | kUnitDisabled | kUnitFocus
    std::vector<UnitEvent> events;
    std::vector<uint8_t> properties;  // type-specific, to the end of the record
    bool operator==(const Unit&) const = default;
};

inline constexpr uint32_t kUnitVisible = 0x1;
inline constexpr uint32_t kUnitDisabled = 0x2;
inline constexpr uint32_t kUnitFocus = 0x4;

struct Window {
    uint32_t id = 0;              // 0x52...
    uint32_t table_reserved = 0;  // the window table's reserved word
    uint32_t block_reserved = 0;  // the window block's first word
    uint32_t block_id = 0;        // class 0x19 identifier, or 0
    std::vector<Unit> units;      // the window's own record first
    bool operator==(const Window&) const = default;
};

// A segment's stored data and its fixups (in stored order, not sorted).
// Names, flags and sizes follow from the segment's place in the chain.
struct SegmentData {
    std::vector<uint8_t> data;
    std::vector<Fixup> fixups;
    bool operator==(const SegmentData&) const = default;
};

// The four relocation lists of @reloc1: ascending offsets into code data.
struct RelocationLists {
    std::vector<uint32_t> identifiers;        // list 1: window and unit identifiers
    std::vector<uint32_t> dll_numbers;        // list 2: DLL declaration numbers
    std::vector<uint32_t> library_positions;  // list 3: 0-based library list positions
    std::vector<uint32_t> type_references;    // list 4: unit type references
    bool operator==(const RelocationLists&) const = default;
};

struct Image {
    Architecture architecture = Architecture::I386;
    uint32_t next_free_id = 0x00010001;
    uint32_t start_routine = 0;  // offset in code data
    std::vector<DllDeclaration> dlls;
    std::vector<LibraryEntry> libraries;  // the kernel library first
    // Const data without the DLL names: the writer appends them at the end of
    // the segment (for each declaration, its library name then its function
    // name, each zero-terminated), and the reader takes them off again.
    SegmentData const_segment;
    std::vector<Window> windows;  // the form segment
    SegmentData code;
    uint32_t var_size = 0;  // zero-filled, no stored data
    RelocationLists relocations;
    bool operator==(const Image&) const = default;
};

// ---- Reading and writing ----

template <typename T>
using ImageResult = base::Result<T>;

// Parses and validates every offset, length and count against the bytes
// that hold it; the error names the check that failed.
ImageResult<Image> read_image(std::span<const uint8_t> bytes);

// The image's bytes; fails on a model that no image can hold (an offset
// outside its segment, a name with a zero byte, ...).
ImageResult<std::vector<uint8_t>> write_image(const Image& image);

// The rules every model obeys, whichever way it came: texts an image can
// hold, the kernel library first, offsets, fixups, relocations and event
// handlers inside their targets, identifier classes and the next free
// identifier. read_image ends with it; write_image starts with it.
ImageResult<void> check_image(const Image& image);

// The library list entries of the known libraries, byte for byte; null for
// a name not known (names compare exactly).
const LibraryEntry* known_library(std::string_view name);

// The form segment's bytes for `windows` (which pass check_windows), and back.
std::vector<uint8_t> encode_form(std::span<const Window> windows);
ImageResult<std::vector<Window>> decode_form(std::span<const uint8_t> form);

// The form rules: window identifiers of class 0x52, block identifiers of
// class 0x19 or 0, the window's own record first (class 0x06, empty name),
// other units of class 0x06 or 0x16, texts without zero bytes.
ImageResult<void> check_windows(std::span<const Window> windows);

}  // namespace image
