// Fuzzing the binding of program images: one input is taken as a whole image
// and goes through read_image and bind_image into a plain buffer of a fake
// host (nothing is executed). The run-time address of the buffer follows
// from the input's length: mostly an ordinary one, else one just below 2 GB
// or one just below 4 GB, so that fixups that leave their range are reached.
//
// Besides the sanitizers' own findings, the binder's promises are checked; a
// broken promise aborts with the input saved.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "base/byte_reader.h"
#include "contract/runtime_abi.h"
#include "image/bind/binder.h"

namespace {

using namespace image;

// Segment sizes come from the input; a reservation above this is refused
// rather than allocated, which keeps the fuzzer's memory bounded.
constexpr size_t kMaxReservation = 64u << 20;

// Chosen by the input's length modulo 4: mostly the ordinary one.
constexpr uint64_t kAddresses[] = {0x00400000, 0x10000000, 0x7FF00000, 0xFFF00000};

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

uint32_t rewritten(uint32_t value) {
    return value ^ 0x5A5A5A5A;
}

class FakeHost : public BindHost {
  public:
    explicit FakeHost(uint64_t address) : address_(address) {}

    std::optional<Placement> reserve(size_t size, Architecture) override {
        check(reserved_size == 0, "memory is reserved once");
        if (size == 0 || size > kMaxReservation)
            return std::nullopt;
        memory.assign(size, 0xCC);
        reserved_size = size;
        return Placement{memory.data(), address_, false};
    }
    bool protect(const Placement& placement, size_t offset, size_t size,
                 Protection protection) override {
        check(placement.memory == memory.data(), "protection asked for the reserved memory");
        check(offset % kBindPageSize == 0 && size % kBindPageSize == 0 && size != 0,
              "protection asked for whole pages");
        check(offset <= memory.size() && size <= memory.size() - offset,
              "protection asked inside the reservation");
        check(slots_filled, "protection comes after every write");
        if (protection == Protection::ReadExecute)
            executable.push_back({offset, size});
        return true;
    }
    void release(const Placement& placement, size_t size) override {
        check(placement.memory == memory.data() && size == reserved_size,
              "the reservation comes back whole");
        ++releases;
    }
    uint64_t slot(size_t index) override {
        check(index < RT_SLOT_COUNT, "slots within the slot count");
        if (index + 1 == RT_SLOT_COUNT)
            slots_filled = true;
        return 0x00A00000 + 16 * index;
    }
    bool load_library(const LibraryEntry&, size_t) override { return true; }
    std::optional<uint64_t> resolve_dll(const DllDeclaration&) override { return 0x77000000; }
    std::optional<uint32_t> rewrite_identifier(uint32_t value) override { return rewritten(value); }
    std::optional<uint32_t> rewrite_dll_number(uint32_t value) override { return rewritten(value); }
    std::optional<uint32_t> rewrite_library_position(uint32_t value) override {
        return rewritten(value);
    }
    std::optional<uint32_t> rewrite_type_reference(uint32_t value) override {
        return rewritten(value);
    }

    struct Range {
        size_t offset, size;
    };
    std::vector<uint8_t> memory;
    size_t reserved_size = 0;
    int releases = 0;
    bool slots_filled = false;
    std::vector<Range> executable;

  private:
    uint64_t address_;
};

void check_bound(const BoundImage& bound, const FakeHost& host, uint64_t address) {
    check(host.releases == 0, "a binding that holds keeps its memory");
    check(bound.size == host.reserved_size, "the bound size is the reservation");
    const uint64_t in_order[] = {bound.const_address, bound.form_address, bound.help_address,
                                 bound.code_address,  bound.var_address,  bound.slot_table_address};
    uint64_t previous = address;
    for (uint64_t at : in_order) {
        check(at >= previous && (at - address) % kBindPageSize == 0,
              "segments lie on page boundaries in chain order");
        previous = at;
    }
    check(bound.slot_table_address + kBindPageSize == address + bound.size,
          "the slot table's page ends the reservation");
    const size_t code_size = bound.model.code.data.size();
    check(bound.start_routine >= bound.code_address &&
              bound.start_routine < bound.code_address + code_size,
          "the start routine lies in the code");
    check(host.executable.size() == 1 && host.executable[0].offset == bound.code_address - address,
          "exactly the code pages become executable");

    const uint64_t limit =
        bound.architecture == Architecture::X86_64 ? uint64_t{1} << 31 : uint64_t{1} << 32;
    check(bound.slot_table_address < limit, "thunk targets hold in their range");
    const size_t entry = slot_entry_size(bound.architecture);
    const uint8_t* slots = host.memory.data() + (bound.slot_table_address - address);
    for (size_t i = 0; i < RT_SLOT_COUNT; ++i) {
        const uint64_t value =
            entry == 8 ? base::load_le64(slots + 8 * i) : base::load_le32(slots + 4 * i);
        check(value == 0x00A00000 + 16 * i, "the slot table holds the host's routines");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint64_t address = kAddresses[size % 4];
    FakeHost host(address);
    auto bound = bind_image(std::span<const uint8_t>(data, size), host);
    if (bound.is_error()) {
        check(!bound.error().empty(), "a refusal says why");
        check(host.releases == (host.reserved_size != 0 ? 1 : 0),
              "a refused binding gives its memory back once");
        return 0;
    }
    check_bound(bound.value(), host, address);
    return 0;
}
