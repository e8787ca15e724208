#include "image/bind/binder.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "base/byte_reader.h"
#include "base/hex.h"
#include "contract/runtime_abi.h"

namespace image {

using base::fail;

namespace {

using base::hex;

static_assert(RT_SLOT_COUNT * 8 <= kBindPageSize, "the slot table fits its page");

constexpr uint64_t align_page(uint64_t value) {
    return (value + (kBindPageSize - 1)) & ~uint64_t{kBindPageSize - 1};
}

// Fields of a segment header (see SegmentHeader), from its first byte.
constexpr size_t kStoredSizeField = 40;
constexpr size_t kDataOffsetField = 44;

// The header fields that hold the offsets of the segment headers.
constexpr size_t kConstHeaderField = 0x40;
constexpr size_t kFormHeaderField = 0x44;

// The data of a segment exactly as the image stores it. read_image has
// checked these fields already; they are read with checks all the same.
ImageResult<std::span<const uint8_t>> stored_data(base::ByteView image, size_t header_field,
                                                  std::string_view name) {
    auto header = image.u32(header_field);
    if (!header || !image.has(*header, SegmentHeader::kSize))
        return fail("the " + std::string(name) + " segment header lies outside the image");
    const uint32_t size = *image.u32(*header + kStoredSizeField);
    const uint32_t offset = *image.u32(*header + kDataOffsetField);
    if (size == 0)
        return std::span<const uint8_t>{};
    auto data = image.slice(offset, size);
    if (!data)
        return fail("the " + std::string(name) + " segment data lies outside the image");
    return *data;
}

// The regions of a binding, in address order.
enum Region : size_t { kConst, kForm, kHelp, kCode, kVar, kSlots, kRegionCount };
constexpr const char* kRegionNames[kRegionCount] = {"const", "form", "help",
                                                    "code",  "var",  "slot table"};

struct Layout {
    uint64_t offset[kRegionCount] = {};  // from the start of the reservation
    uint64_t size[kRegionCount] = {};    // bytes in use
    uint64_t total = 0;                  // bytes to reserve

    uint64_t end(size_t region) const {
        return region + 1 < kRegionCount ? offset[region + 1] : total;
    }
};

Layout place(const uint64_t (&sizes)[kRegionCount]) {
    Layout layout;
    uint64_t next = 0;
    for (size_t region = 0; region < kRegionCount; ++region) {
        layout.offset[region] = next;
        layout.size[region] = sizes[region];
        next = align_page(next + sizes[region]);
    }
    // The slot table takes a whole page even though it needs less.
    layout.total = layout.offset[kSlots] + kBindPageSize;
    return layout;
}

// Gives the reservation back unless the binding got through.
class Reservation {
  public:
    Reservation(BindHost& host, Placement placement, size_t size)
        : host_(host), placement_(placement), size_(size) {}
    ~Reservation() {
        if (!kept_)
            host_.release(placement_, size_);
    }
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;
    void keep() { kept_ = true; }

  private:
    BindHost& host_;
    Placement placement_;
    size_t size_;
    bool kept_ = false;
};

// Adds its target's run-time address to the 32-bit value at each fixup site.
// `data` is the segment's data in the bound memory; `limit` is the first
// value a site cannot hold.
ImageResult<void> apply_fixups(uint8_t* data, size_t size, std::span<const Fixup> fixups,
                               const uint64_t (&targets)[4], uint64_t limit,
                               std::string_view segment) {
    for (const Fixup& fixup : fixups) {
        const auto kind = static_cast<size_t>(fixup.kind);
        if (size < 4 || fixup.offset > size - 4)
            return fail("fixup at " + std::string(segment) + "+" + hex(fixup.offset) +
                        " lies outside the segment's data");
        if (kind >= 4)
            return fail("fixup at " + std::string(segment) + "+" + hex(fixup.offset) +
                        " has an unknown kind");
        uint8_t* site = data + fixup.offset;
        const uint32_t value = base::load_le32(site);
        // A signed offset: compilers address an array through a base a
        // little before it (`literal - 1`), which may lie before its segment.
        const int64_t offset = static_cast<int32_t>(value);
        const uint64_t sum = targets[kind] + static_cast<uint64_t>(offset);
        const bool below_zero = offset < 0 && static_cast<uint64_t>(-offset) > targets[kind];
        if (below_zero || sum >= limit) {
            static constexpr const char* kKindNames[4] = {"slot table", "const", "var", "code"};
            return fail("fixup at " + std::string(segment) + "+" + hex(fixup.offset) + " (" +
                        kKindNames[kind] + "): " + hex(value) + " + " + hex(targets[kind]) +
                        (below_zero                   ? " lies below address 0"
                         : limit == uint64_t{1} << 31 ? " does not lie below 2 GB"
                                                      : " does not fit in 32 bits"));
        }
        base::store_le32(site, static_cast<uint32_t>(sum));
    }
    return {};
}

struct RelocationList {
    const char* name;
    const std::vector<uint32_t>* offsets;
    std::optional<uint32_t> (BindHost::*rewrite)(uint32_t);
};

// Replaces the value at each site of the relocation lists by the host's own.
ImageResult<void> rewrite_relocations(uint8_t* code, size_t size, const RelocationLists& lists,
                                      BindHost& host) {
    const RelocationList all[] = {
        {"identifier", &lists.identifiers, &BindHost::rewrite_identifier},
        {"DLL number", &lists.dll_numbers, &BindHost::rewrite_dll_number},
        {"library position", &lists.library_positions, &BindHost::rewrite_library_position},
        {"type reference", &lists.type_references, &BindHost::rewrite_type_reference},
    };
    for (const RelocationList& list : all) {
        for (uint32_t offset : *list.offsets) {
            if (size < 4 || offset > size - 4)
                return fail(std::string(list.name) + " relocation at code+" + hex(offset) +
                            " lies outside the code");
            uint8_t* site = code + offset;
            const uint32_t value = base::load_le32(site);
            std::optional<uint32_t> rewritten = (host.*list.rewrite)(value);
            if (!rewritten)
                return fail(std::string(list.name) + " relocation at code+" + hex(offset) +
                            ": the runtime refuses " + hex(value));
            base::store_le32(site, *rewritten);
        }
    }
    return {};
}

}  // namespace

ImageResult<BoundImage> bind_image(std::span<const uint8_t> image_bytes, BindHost& host) {
    Image model = TRY(read_image(image_bytes));
    const base::ByteView image(image_bytes);
    const bool wide = model.architecture == Architecture::X86_64;

    // Const as stored: the model's const data followed by the DLL names, so
    // that offsets into const (the DLL table's among them) keep their meaning.
    const std::span<const uint8_t> const_data = TRY(stored_data(image, kConstHeaderField, "const"));
    const std::vector<uint8_t>& model_const = model.const_segment.data;
    if (const_data.size() < model_const.size() ||
        (!model_const.empty() &&
         std::memcmp(const_data.data(), model_const.data(), model_const.size()) != 0))
        return fail(std::string("the stored const data does not begin with the image's constants"));
    const std::span<const uint8_t> form_data = TRY(stored_data(image, kFormHeaderField, "form"));
    const std::vector<uint8_t>& code = model.code.data;
    if (model.start_routine >= code.size())
        return fail("the start routine (code+" + hex(model.start_routine) +
                    ") lies outside the code");

    const uint64_t sizes[kRegionCount] = {const_data.size(), form_data.size(), kHelpSize,
                                          code.size(),       model.var_size,   kBindPageSize};
    const Layout layout = place(sizes);
    if (layout.total > std::numeric_limits<size_t>::max())
        return fail("the image needs " + hex(layout.total) + " bytes, more than memory can hold");
    const auto total = static_cast<size_t>(layout.total);

    std::optional<Placement> reserved = host.reserve(total, model.architecture);
    if (!reserved)
        return fail("cannot reserve " + hex(layout.total) + " bytes of memory for the image");
    const Placement placement = *reserved;
    Reservation reservation(host, placement, total);
    if (placement.memory == nullptr ||
        placement.address > std::numeric_limits<uint64_t>::max() - layout.total)
        return fail("the host placed the image at an unusable address " + hex(placement.address));

    uint64_t address[kRegionCount];
    for (size_t region = 0; region < kRegionCount; ++region)
        address[region] = placement.address + layout.offset[region];

    // Contents; gaps up to each next page boundary are zero.
    uint8_t* const memory = placement.memory;
    const std::span<const uint8_t> contents[kRegionCount] = {const_data, form_data, {},
                                                             code,       {},        {}};
    for (size_t region = 0; region < kRegionCount; ++region) {
        uint8_t* start = memory + layout.offset[region];
        const size_t stored = contents[region].size();
        if (stored != 0)
            std::memcpy(start, contents[region].data(), stored);
        if (!placement.zeroed)
            std::memset(start + stored, 0, layout.end(region) - layout.offset[region] - stored);
    }

    // Fixups: the 32-bit value at each site is an offset into its target.
    const uint64_t targets[4] = {address[kSlots], address[kConst], address[kVar], address[kCode]};
    const uint64_t limit = wide ? uint64_t{1} << 31 : uint64_t{1} << 32;
    TRY(apply_fixups(memory + layout.offset[kConst], model_const.size(), model.const_segment.fixups,
                     targets, limit, "const"));
    TRY(apply_fixups(memory + layout.offset[kCode], code.size(), model.code.fixups, targets, limit,
                     "code"));
    TRY(rewrite_relocations(memory + layout.offset[kCode], code.size(), model.relocations, host));

    for (size_t position = 0; position < model.libraries.size(); ++position) {
        if (!host.load_library(model.libraries[position], position))
            return fail("cannot load the library " + model.libraries[position].name);
    }

    BoundImage bound;
    bound.dll_addresses.reserve(model.dlls.size());
    for (const DllDeclaration& dll : model.dlls) {
        std::optional<uint64_t> resolved = host.resolve_dll(dll);
        if (!resolved)
            return fail("cannot find the function " + dll.function + " in the DLL " +
                        (dll.library.empty() ? std::string("(none named)") : dll.library));
        bound.dll_addresses.push_back(*resolved);
    }

    uint8_t* slots = memory + layout.offset[kSlots];
    for (size_t index = 0; index < RT_SLOT_COUNT; ++index) {
        const uint64_t routine = host.slot(index);
        if (wide) {
            base::store_le64(slots + 8 * index, routine);
        } else {
            if (routine > std::numeric_limits<uint32_t>::max())
                return fail("slot " + hex(index * 4) + " of an i386 image points above 4 GB (" +
                            hex(routine) + ")");
            base::store_le32(slots + 4 * index, static_cast<uint32_t>(routine));
        }
    }

    // Every write is done: only now does code become executable, and it
    // never was writable at the same time.
    constexpr Protection kProtection[kRegionCount] = {
        Protection::ReadOnly,    Protection::ReadOnly,  Protection::ReadOnly,
        Protection::ReadExecute, Protection::ReadWrite, Protection::ReadOnly};
    for (size_t region = 0; region < kRegionCount; ++region) {
        if (layout.size[region] == 0)
            continue;
        const auto offset = static_cast<size_t>(layout.offset[region]);
        const auto size = static_cast<size_t>(align_page(layout.size[region]));
        if (!host.protect(placement, offset, size, kProtection[region]))
            return fail(std::string("cannot set the protection of the ") + kRegionNames[region] +
                        " pages");
    }

    reservation.keep();
    bound.placement = placement;
    bound.size = total;
    bound.architecture = model.architecture;
    bound.const_address = address[kConst];
    bound.form_address = address[kForm];
    bound.help_address = address[kHelp];
    bound.code_address = address[kCode];
    bound.var_address = address[kVar];
    bound.slot_table_address = address[kSlots];
    bound.start_routine = address[kCode] + model.start_routine;
    bound.model = std::move(model);
    return bound;
}

}  // namespace image
