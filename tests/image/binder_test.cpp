// Binding images into memory: placement, fixups, relocation lists,
// libraries, DLLs, the slot table and page protection, checked through a
// recording host that binds into a plain buffer at a chosen run-time address;
// then a real x86-64 run on Linux in native memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_reader.h"
#include "contract/runtime_abi.h"
#include "image/bind/binder.h"
#include "image/bind/native_memory.h"

namespace image {
namespace {

constexpr uint64_t kI386Address = 0x00400000;
constexpr uint64_t kX86_64Address = 0x10000000;

// ---- Building code ----

// Machine code with its fixups and relocation list entries, byte by byte.
class Code {
  public:
    uint32_t here() const { return static_cast<uint32_t>(bytes_.size()); }

    Code& bytes(std::initializer_list<uint8_t> values) {
        bytes_.insert(bytes_.end(), values);
        return *this;
    }
    Code& u32(uint32_t value) {
        uint8_t raw[4];
        base::store_le32(raw, value);
        bytes_.insert(bytes_.end(), raw, raw + 4);
        return *this;
    }
    // A 32-bit offset into `kind`'s target that binding turns into an address.
    Code& fixup(FixupKind kind, uint32_t value) {
        fixups_.push_back({here(), kind});
        return u32(value);
    }
    // A 32-bit value named by a relocation list.
    Code& relocation(std::vector<uint32_t> RelocationLists::*list, uint32_t value) {
        (relocations_.*list).push_back(here());
        return u32(value);
    }
    // call rel32 to a routine at `target` in the same code.
    Code& call(uint32_t target) {
        bytes({0xE8});
        return u32(target - (here() + 4));
    }
    // A slot thunk: jmp [slot table + operand].
    Code& thunk(Architecture architecture, uint32_t slot) {
        if (architecture == Architecture::I386)
            return bytes({0xFF, 0x25}).fixup(FixupKind::SlotTable, slot);
        return bytes({0xFF, 0x24, 0x25}).fixup(FixupKind::SlotTable, 2 * slot);
    }

    void into(Image& image) const {
        image.code.data = bytes_;
        image.code.fixups = fixups_;
        image.relocations = relocations_;
    }

  private:
    std::vector<uint8_t> bytes_;
    std::vector<Fixup> fixups_;
    RelocationLists relocations_;
};

std::vector<uint8_t> text_bytes(std::string_view text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

Image empty_model(Architecture architecture) {
    Image model;
    model.architecture = architecture;
    model.libraries = {*known_library("krnln")};
    return model;
}

std::vector<uint8_t> write(const Image& model) {
    auto bytes = write_image(model);
    EXPECT_FALSE(bytes.is_error()) << bytes.error();
    return bytes.is_error() ? std::vector<uint8_t>{} : bytes.release_value();
}

// A small program of each architecture with a site of every kind:
//
//   code+0      thunk to RT_SLOT_HEAP_NEW
//   next        thunk to RT_SLOT_EXIT
//   start       mov eax, var+0x10 / const+2 / const:"MessageBoxA" / code+start,
//               push <identifier> <DLL number> <library position> <type>, ret
//   const       "const\0\0\0", then the start routine's offset (a code fixup);
//               the DLL names follow when written
//   form        one window with its own record, whose main event is `start`
//   var         0x40 bytes
//
// Bound at address A its segments lie at A, A+0x1000, ..., slot table A+0x5000.
struct Sample {
    Image model;
    std::vector<uint8_t> bytes;
    uint32_t heap_new_site = 0;  // operand of the heap_new thunk
    uint32_t exit_site = 0;
    uint32_t start = 0;
    uint32_t var_site = 0;    // mov eax, var+0x10
    uint32_t const_site = 0;  // mov eax, const+2
    uint32_t name_site = 0;   // mov eax, const+<"MessageBoxA">
    uint32_t code_site = 0;   // mov eax, code+start
    uint32_t relocation_sites[4] = {};
};

constexpr uint32_t kConstAt = 0x0000, kFormAt = 0x1000, kHelpAt = 0x2000, kCodeAt = 0x3000,
                   kVarAt = 0x4000, kSlotsAt = 0x5000, kSampleSize = 0x6000;
constexpr uint32_t kSampleIdentifier = 0x52010001;
constexpr uint32_t kSampleDllNumber = 1;
constexpr uint32_t kSampleLibraryPosition = 1;
constexpr uint32_t kSampleType = 0x0001000B;
// "const\0\0\0" + 4-byte code offset, then "user32\0" and "MessageBoxA\0".
constexpr uint32_t kMessageBoxName = 12 + 7;

Sample sample(Architecture architecture) {
    Sample s;
    s.model = empty_model(architecture);
    s.model.libraries.push_back(*known_library("eCompress"));
    s.model.dlls = {{"user32", "MessageBoxA"}, {"", "GetTickCount"}};

    Code code;
    const size_t operand = architecture == Architecture::I386 ? 2 : 3;
    s.heap_new_site = code.here() + operand;
    code.thunk(architecture, RT_SLOT_HEAP_NEW);
    s.exit_site = code.here() + operand;
    code.thunk(architecture, RT_SLOT_EXIT);
    s.start = code.here();
    s.var_site = code.bytes({0xB8}).here();
    code.fixup(FixupKind::Var, 0x10);
    s.const_site = code.bytes({0xB8}).here();
    code.fixup(FixupKind::Const, 2);
    s.name_site = code.bytes({0xB8}).here();
    code.fixup(FixupKind::Const, kMessageBoxName);
    s.code_site = code.bytes({0xB8}).here();
    code.fixup(FixupKind::Code, s.start);
    const std::pair<std::vector<uint32_t> RelocationLists::*, uint32_t> pushes[4] = {
        {&RelocationLists::identifiers, kSampleIdentifier},
        {&RelocationLists::dll_numbers, kSampleDllNumber},
        {&RelocationLists::library_positions, kSampleLibraryPosition},
        {&RelocationLists::type_references, kSampleType},
    };
    for (size_t i = 0; i < 4; ++i) {
        s.relocation_sites[i] = code.bytes({0x68}).here();
        code.relocation(pushes[i].first, pushes[i].second);
    }
    code.bytes({0xC3});
    code.into(s.model);
    s.model.start_routine = s.start;

    s.model.const_segment.data = text_bytes(std::string_view("const\0\0\0", 8));
    s.model.const_segment.data.resize(12);
    base::store_le32(s.model.const_segment.data.data() + 8, s.start);
    s.model.const_segment.fixups = {{8, FixupKind::Code}};

    Unit own;
    own.id = 0x06010002;
    own.type = RT_UNIT_WINDOW;
    own.width = 320;
    own.height = 200;
    own.events = {{RT_EVENT_MAIN, s.start}};
    s.model.windows = {{kSampleIdentifier, 0, 0, 0, {own}}};
    s.model.next_free_id = 0x00010003;
    s.model.var_size = 0x40;
    s.bytes = write(s.model);
    return s;
}

// ---- The recording host ----

// What the host hands out for slot i: 32-bit values for i386, values above
// 4 GB for x86-64 (so that 8-byte entries are needed).
uint64_t slot_value(Architecture architecture, size_t index) {
    return architecture == Architecture::I386 ? 0x00A00000 + 0x10 * index
                                              : 0x00007F0012340000 + 0x10 * index;
}

struct ProtectCall {
    size_t offset;
    size_t size;
    Protection protection;
    std::vector<uint8_t> memory;  // the whole buffer when the call came
};

// Binds into a buffer that starts out full of 0xCC, at `address`.
class RecordingHost : public BindHost {
  public:
    RecordingHost(Architecture architecture, uint64_t address)
        : architecture_(architecture), address_(address) {}

    std::optional<Placement> reserve(size_t size, Architecture architecture) override {
        ++reserve_calls;
        reserved_architecture = architecture;
        if (!give_memory || size > (64u << 20))
            return std::nullopt;
        memory.assign(size, 0xCC);
        return Placement{memory.data(), address_, false};
    }
    bool protect(const Placement& placement, size_t offset, size_t size,
                 Protection protection) override {
        EXPECT_EQ(placement.memory, memory.data());
        protects.push_back({offset, size, protection, memory});
        return protection != refuse_protection;
    }
    void release(const Placement& placement, size_t size) override {
        EXPECT_EQ(placement.memory, memory.data());
        EXPECT_EQ(size, memory.size());
        ++release_calls;
    }
    uint64_t slot(size_t index) override {
        ++slot_calls;
        return slot_base ? *slot_base + index : slot_value(architecture_, index);
    }
    bool load_library(const LibraryEntry& library, size_t position) override {
        libraries.emplace_back(library.name, position);
        return library.name != refuse_library;
    }
    std::optional<uint64_t> resolve_dll(const DllDeclaration& declaration) override {
        dlls.push_back(declaration);
        if (declaration.function == refuse_function)
            return std::nullopt;
        return 0x77000000 + 0x100 * dlls.size();
    }
    std::optional<uint32_t> rewrite_identifier(uint32_t value) override {
        return rewrite(0, value);
    }
    std::optional<uint32_t> rewrite_dll_number(uint32_t value) override {
        return rewrite(1, value);
    }
    std::optional<uint32_t> rewrite_library_position(uint32_t value) override {
        return rewrite(2, value);
    }
    std::optional<uint32_t> rewrite_type_reference(uint32_t value) override {
        return rewrite(3, value);
    }

    // The host's own value for a value of relocation list `list`.
    static uint32_t rewritten(size_t list, uint32_t value) {
        return value ^ (0x11111111u * static_cast<uint32_t>(list + 1));
    }

    uint32_t u32_at(uint64_t address) const {
        return base::load_le32(memory.data() + (address - address_));
    }

    // Settings.
    bool give_memory = true;
    std::optional<Protection> refuse_protection;
    std::string refuse_library;
    std::string refuse_function;
    std::optional<uint32_t> refuse_value[4];
    std::optional<uint64_t> slot_base;

    // Records.
    std::vector<uint8_t> memory;
    int reserve_calls = 0;
    int release_calls = 0;
    int slot_calls = 0;
    std::optional<Architecture> reserved_architecture;
    std::vector<ProtectCall> protects;
    std::vector<std::pair<std::string, size_t>> libraries;
    std::vector<DllDeclaration> dlls;
    std::vector<std::pair<size_t, uint32_t>> rewrites;

  private:
    std::optional<uint32_t> rewrite(size_t list, uint32_t value) {
        rewrites.emplace_back(list, value);
        if (refuse_value[list] == value)
            return std::nullopt;
        return rewritten(list, value);
    }

    Architecture architecture_;
    uint64_t address_;
};

// ---- Binding the sample ----

struct ArchitectureCase {
    Architecture architecture;
    uint64_t address;
};
const ArchitectureCase kArchitectures[] = {
    {Architecture::I386, kI386Address},
    {Architecture::X86_64, kX86_64Address},
};

std::string name_of(Architecture architecture) {
    return architecture == Architecture::I386 ? "i386" : "x86-64";
}

TEST(BindImage, SitesHoldRunTimeAddressesAndRewrittenValues) {
    for (const ArchitectureCase& c : kArchitectures) {
        SCOPED_TRACE(name_of(c.architecture));
        const Sample s = sample(c.architecture);
        RecordingHost host(c.architecture, c.address);
        auto bound = bind_image(s.bytes, host);
        ASSERT_FALSE(bound.is_error()) << bound.error();
        const BoundImage& image = bound.value();
        const uint64_t a = c.address;

        EXPECT_EQ(image.placement.address, a);
        EXPECT_EQ(image.size, kSampleSize);
        EXPECT_EQ(image.architecture, c.architecture);
        EXPECT_EQ(image.const_address, a + kConstAt);
        EXPECT_EQ(image.form_address, a + kFormAt);
        EXPECT_EQ(image.help_address, a + kHelpAt);
        EXPECT_EQ(image.code_address, a + kCodeAt);
        EXPECT_EQ(image.var_address, a + kVarAt);
        EXPECT_EQ(image.slot_table_address, a + kSlotsAt);
        EXPECT_EQ(image.start_routine, a + kCodeAt + s.start);
        EXPECT_EQ(image.model, s.model);
        EXPECT_EQ(host.reserved_architecture, c.architecture);

        // Thunks name slot table entries: i386 slot table + slot,
        // x86-64 slot table + 2 x slot; each entry holds the host's routine.
        const uint64_t entry = slot_entry_size(c.architecture);
        const uint64_t code = a + kCodeAt;
        for (auto [site, slot] :
             {std::pair{s.heap_new_site, RT_SLOT_HEAP_NEW}, std::pair{s.exit_site, RT_SLOT_EXIT}}) {
            const uint32_t operand = host.u32_at(code + site);
            EXPECT_EQ(operand, a + kSlotsAt + entry * (slot / 4));
            const uint64_t routine =
                entry == 8 ? base::load_le64(&host.memory[operand - a]) : host.u32_at(operand);
            EXPECT_EQ(routine, slot_value(c.architecture, slot / 4));
        }
        EXPECT_EQ(host.u32_at(code + s.var_site), a + kVarAt + 0x10);
        EXPECT_EQ(host.u32_at(code + s.const_site), a + kConstAt + 2);
        EXPECT_EQ(host.u32_at(code + s.code_site), a + kCodeAt + s.start);
        // An offset into the DLL names still points at the name once bound.
        const uint32_t name = host.u32_at(code + s.name_site);
        EXPECT_EQ(name, a + kConstAt + kMessageBoxName);
        EXPECT_STREQ(reinterpret_cast<const char*>(&host.memory[name - a]), "MessageBoxA");
        // Const fixups (to code) too.
        EXPECT_EQ(host.u32_at(a + kConstAt + 8), a + kCodeAt + s.start);

        const uint32_t originals[4] = {kSampleIdentifier, kSampleDllNumber, kSampleLibraryPosition,
                                       kSampleType};
        for (size_t list = 0; list < 4; ++list) {
            EXPECT_EQ(host.u32_at(code + s.relocation_sites[list]),
                      RecordingHost::rewritten(list, originals[list]))
                << "list " << list + 1;
        }

        const std::vector<std::pair<std::string, size_t>> libraries = {{"krnln", 0},
                                                                       {"eCompress", 1}};
        EXPECT_EQ(host.libraries, libraries);
        EXPECT_EQ(host.dlls, s.model.dlls);
        EXPECT_EQ(image.dll_addresses, (std::vector<uint64_t>{0x77000100, 0x77000200}));
        EXPECT_EQ(host.slot_calls, RT_SLOT_COUNT);
        for (size_t i = 0; i < RT_SLOT_COUNT; ++i) {
            const uint64_t at = kSlotsAt + entry * i;
            const uint64_t stored =
                entry == 8 ? base::load_le64(&host.memory[at]) : base::load_le32(&host.memory[at]);
            EXPECT_EQ(stored, slot_value(c.architecture, i)) << "slot " << i;
        }
        EXPECT_EQ(host.release_calls, 0);
    }
}

// Compilers address an array through a base a little before it: the offset
// is signed.
TEST(BindImage, FixupOffsetsAreSigned) {
    for (const ArchitectureCase& c : kArchitectures) {
        SCOPED_TRACE(name_of(c.architecture));
        Sample s = sample(c.architecture);
        base::store_le32(s.model.code.data.data() + s.const_site, 0xFFFFFFFF);
        s.bytes = write(s.model);
        RecordingHost host(c.architecture, c.address);
        auto bound = bind_image(s.bytes, host);
        ASSERT_FALSE(bound.is_error()) << bound.error();
        EXPECT_EQ(host.u32_at(c.address + kCodeAt + s.const_site), c.address + kConstAt - 1);
    }
}

TEST(BindImage, SegmentContentsAreTheStoredBytesAndTheRestIsZero) {
    for (const ArchitectureCase& c : kArchitectures) {
        SCOPED_TRACE(name_of(c.architecture));
        const Sample s = sample(c.architecture);
        RecordingHost host(c.architecture, c.address);
        auto bound = bind_image(s.bytes, host);
        ASSERT_FALSE(bound.is_error()) << bound.error();

        // Const: the data as stored, DLL names included.
        std::vector<uint8_t> stored_const = s.model.const_segment.data;
        base::store_le32(stored_const.data() + 8, 0);  // fixup site: checked elsewhere
        for (const DllDeclaration& dll : s.model.dlls) {
            for (const std::string* name : {&dll.library, &dll.function}) {
                stored_const.insert(stored_const.end(), name->begin(), name->end());
                stored_const.push_back(0);
            }
        }
        std::vector<uint8_t> expected(kSampleSize, 0);
        std::copy(stored_const.begin(), stored_const.end(), expected.begin() + kConstAt);
        const std::vector<uint8_t> form = encode_form(s.model.windows);
        std::copy(form.begin(), form.end(), expected.begin() + kFormAt);
        std::copy(s.model.code.data.begin(), s.model.code.data.end(), expected.begin() + kCodeAt);

        // Every byte but fixup sites, relocation sites and slot entries.
        std::vector<uint8_t> actual = host.memory;
        auto blank = [&](size_t at, size_t size) {
            std::fill_n(actual.begin() + at, size, 0);
            std::fill_n(expected.begin() + at, size, 0);
        };
        blank(kConstAt + 8, 4);
        for (const Fixup& fixup : s.model.code.fixups)
            blank(kCodeAt + fixup.offset, 4);
        for (uint32_t site : s.relocation_sites)
            blank(kCodeAt + site, 4);
        blank(kSlotsAt, RT_SLOT_COUNT * slot_entry_size(c.architecture));
        EXPECT_EQ(actual, expected);
    }
}

TEST(BindImage, PagesAreNeverWritableAndExecutableAndEndAsTheSegmentsNeed) {
    for (const ArchitectureCase& c : kArchitectures) {
        SCOPED_TRACE(name_of(c.architecture));
        const Sample s = sample(c.architecture);
        RecordingHost host(c.architecture, c.address);
        auto bound = bind_image(s.bytes, host);
        ASSERT_FALSE(bound.is_error()) << bound.error();

        // Reserved memory is writable: no write may follow the moment code
        // turns executable, and nothing ever asks for more than one of write
        // and execute (the protections cannot express both).
        std::map<size_t, Protection> pages;
        for (size_t page = 0; page < kSampleSize / kBindPageSize; ++page)
            pages[page] = Protection::ReadWrite;
        bool executable_seen = false;
        for (const ProtectCall& call : host.protects) {
            EXPECT_EQ(call.offset % kBindPageSize, 0u);
            EXPECT_EQ(call.size % kBindPageSize, 0u);
            ASSERT_LE(call.offset + call.size, kSampleSize);
            if (call.protection == Protection::ReadExecute) {
                executable_seen = true;
                EXPECT_EQ(call.memory, host.memory) << "memory written after code became RX";
            }
            for (size_t page = call.offset / kBindPageSize;
                 page < (call.offset + call.size) / kBindPageSize; ++page)
                pages[page] = call.protection;
        }
        EXPECT_TRUE(executable_seen);
        const std::map<size_t, Protection> expected = {
            {kConstAt / kBindPageSize, Protection::ReadOnly},
            {kFormAt / kBindPageSize, Protection::ReadOnly},
            {kHelpAt / kBindPageSize, Protection::ReadOnly},
            {kCodeAt / kBindPageSize, Protection::ReadExecute},
            {kVarAt / kBindPageSize, Protection::ReadWrite},
            {kSlotsAt / kBindPageSize, Protection::ReadOnly},
        };
        EXPECT_EQ(pages, expected);
    }
}

TEST(BindImage, SegmentsStartAtTheNextPageBoundaryInChainOrder) {
    struct Case {
        const char* what;
        size_t const_size;  // model const data, without DLL names
        bool with_dll;      // adds "k\0f\0" (4 bytes) behind const data
        size_t code_size;
        uint32_t var_size;
        uint32_t form, help, code, var, slots, total;  // offsets from the placement
    };
    const Case cases[] = {
        {"everything small", 0x20, false, 0x10, 0x10,  //
         0x1000, 0x2000, 0x3000, 0x4000, 0x5000, 0x6000},
        {"no const, no var: both share their next segment's address", 0, false, 0x10, 0,  //
         0x0000, 0x1000, 0x2000, 0x3000, 0x3000, 0x4000},
        {"sizes of exactly one page", 0x1000, false, 0x1000, 0x1000,  //
         0x1000, 0x2000, 0x3000, 0x4000, 0x5000, 0x6000},
        {"one byte over a page", 0x1001, false, 0x1001, 0x1001,  //
         0x2000, 0x3000, 0x4000, 0x6000, 0x8000, 0x9000},
        {"DLL names push const over a page", 0xFFD, true, 0x10, 0x2000,  //
         0x2000, 0x3000, 0x4000, 0x5000, 0x7000, 0x8000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image model = empty_model(Architecture::X86_64);
        model.const_segment.data.assign(c.const_size, 0x5A);
        if (c.with_dll)
            model.dlls = {{"k", "f"}};
        model.code.data.assign(c.code_size, 0xC3);
        model.var_size = c.var_size;
        RecordingHost host(Architecture::X86_64, kX86_64Address);
        auto bound = bind_image(write(model), host);
        ASSERT_FALSE(bound.is_error()) << bound.error();
        const BoundImage& image = bound.value();
        EXPECT_EQ(image.const_address, kX86_64Address);
        EXPECT_EQ(image.form_address, kX86_64Address + c.form);
        EXPECT_EQ(image.help_address, kX86_64Address + c.help);
        EXPECT_EQ(image.code_address, kX86_64Address + c.code);
        EXPECT_EQ(image.var_address, kX86_64Address + c.var);
        EXPECT_EQ(image.slot_table_address, kX86_64Address + c.slots);
        EXPECT_EQ(image.size, c.total);
        EXPECT_EQ(host.memory.size(), c.total);
        // Zero-sized segments get no protection call of their own.
        for (const ProtectCall& call : host.protects)
            EXPECT_NE(call.size, 0u);
    }
}

// ---- Refusals ----

TEST(BindImage, RefusalsNameTheirCauseAndGiveTheMemoryBack) {
    struct Case {
        const char* what;
        Architecture architecture;
        uint64_t address;
        std::function<void(Sample&)> change_image;  // then written again
        std::function<void(RecordingHost&, const Sample&)> change_host;
        std::vector<std::string> message;  // parts of the error
        bool reserved;                     // memory was reserved (and must come back)
    };
    const auto none = [](Sample&) {};
    const auto usual = [](RecordingHost&, const Sample&) {};
    // Moves the var fixup first, with an offset near the end of a larger var.
    const auto far_var = [](Sample& s) {
        std::vector<Fixup>& fixups = s.model.code.fixups;
        auto var = std::find(fixups.begin(), fixups.end(), Fixup{s.var_site, FixupKind::Var});
        std::rotate(fixups.begin(), var, var + 1);
        s.model.var_size = 0x20000;
        base::store_le32(s.model.code.data.data() + s.var_site, 0x1FFF0);
    };
    const Case cases[] = {
        {"x86-64 thunk whose slot table lies at 2 GB",
         Architecture::X86_64,
         0x7FFFB000,
         none,
         usual,
         {"code+0x3", "slot table", "0x80000000", "below 2 GB"},
         true},
        {"x86-64 var offset past 2 GB",
         Architecture::X86_64,
         0x7FFE0000,
         far_var,
         usual,
         {"(var)", "0x1FFF0 + 0x7FFE4000", "below 2 GB"},
         true},
        {"i386 var offset past 4 GB",
         Architecture::I386,
         0xFFFF0000,
         far_var,
         usual,
         {"(var)", "0x1FFF0 + 0xFFFF4000", "32 bits"},
         true},
        {"identifier refused",
         Architecture::I386,
         kI386Address,
         none,
         [](RecordingHost& h, const Sample&) { h.refuse_value[0] = kSampleIdentifier; },
         {"identifier relocation", "refuses 0x52010001"},
         true},
        {"DLL number refused",
         Architecture::I386,
         kI386Address,
         none,
         [](RecordingHost& h, const Sample&) { h.refuse_value[1] = kSampleDllNumber; },
         {"DLL number relocation", "refuses 0x1"},
         true},
        {"library position refused",
         Architecture::X86_64,
         kX86_64Address,
         none,
         [](RecordingHost& h, const Sample&) { h.refuse_value[2] = kSampleLibraryPosition; },
         {"library position relocation", "refuses 0x1"},
         true},
        {"type reference refused",
         Architecture::X86_64,
         kX86_64Address,
         none,
         [](RecordingHost& h, const Sample&) { h.refuse_value[3] = kSampleType; },
         {"type reference relocation", "refuses 0x1000B"},
         true},
        {"library not loaded",
         Architecture::I386,
         kI386Address,
         none,
         [](RecordingHost& h, const Sample&) { h.refuse_library = "eCompress"; },
         {"cannot load the library eCompress"},
         true},
        {"DLL function not found",
         Architecture::X86_64,
         kX86_64Address,
         none,
         [](RecordingHost& h, const Sample&) { h.refuse_function = "MessageBoxA"; },
         {"MessageBoxA", "user32"},
         true},
        {"DLL function of no named library not found",
         Architecture::X86_64,
         kX86_64Address,
         none,
         [](RecordingHost& h, const Sample&) { h.refuse_function = "GetTickCount"; },
         {"GetTickCount", "none named"},
         true},
        {"no memory",
         Architecture::X86_64,
         kX86_64Address,
         none,
         [](RecordingHost& h, const Sample&) { h.give_memory = false; },
         {"cannot reserve 0x6000 bytes"},
         false},
        {"code cannot become executable",
         Architecture::X86_64,
         kX86_64Address,
         none,
         [](RecordingHost& h, const Sample&) { h.refuse_protection = Protection::ReadExecute; },
         {"protection of the code pages"},
         true},
        {"i386 slot routine above 4 GB",
         Architecture::I386,
         kI386Address,
         none,
         [](RecordingHost& h, const Sample&) { h.slot_base = uint64_t{1} << 32; },
         {"slot 0x0", "above 4 GB"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sample s = sample(c.architecture);
        c.change_image(s);
        s.bytes = write(s.model);
        RecordingHost host(c.architecture, c.address);
        c.change_host(host, s);
        auto bound = bind_image(s.bytes, host);
        ASSERT_TRUE(bound.is_error());
        for (const std::string& part : c.message)
            EXPECT_NE(bound.error().find(part), std::string::npos)
                << "'" << part << "' missing from: " << bound.error();
        EXPECT_EQ(host.reserve_calls, 1);
        EXPECT_EQ(host.release_calls, c.reserved ? 1 : 0);
        // Every other refusal comes before any protection changes.
        if (!host.refuse_protection) {
            EXPECT_TRUE(host.protects.empty());
        }
    }
}

TEST(BindImage, ReaderRefusalsComeBeforeAnyReservation) {
    const Sample s = sample(Architecture::I386);
    std::vector<uint8_t> truncated(s.bytes.begin(), s.bytes.end() - 1);
    std::vector<uint8_t> bad_magic = s.bytes;
    bad_magic[0] ^= 0xFF;
    for (const std::vector<uint8_t>* bytes : {&truncated, &bad_magic}) {
        RecordingHost host(Architecture::I386, kI386Address);
        auto bound = bind_image(*bytes, host);
        ASSERT_TRUE(bound.is_error());
        EXPECT_EQ(bound.error(), read_image(*bytes).error());
        EXPECT_EQ(host.reserve_calls, 0);
    }
}

// ---- A real run ----

#if defined(__linux__) && defined(__x86_64__)

// What the slots of the running image were called with, in order.
struct Calls {
    std::vector<std::string> lines;
    void* block = nullptr;  // handed out by heap new
    std::string text;       // the argument of the kernel command
    uintptr_t release_routine = 0;
};
Calls* g_calls = nullptr;

void record(std::string line) {
    g_calls->lines.push_back(std::move(line));
}

RT_CALL void* slot_heap_new(uint32_t size) {
    record("heap_new " + std::to_string(size));
    g_calls->block = std::malloc(size);
    return g_calls->block;
}
RT_CALL void slot_heap_free(void* block) {
    record(block == g_calls->block ? "heap_free block" : "heap_free other");
    std::free(block);
}
RT_CALL int64_t slot_kernel_command(int32_t command, const RtArgumentBlock* block) {
    record("kernel_command " + std::to_string(command) + " count " + std::to_string(block->count));
    const RtArgument& argument = block->arguments[0];
    if (block->count == 1 && argument.type == RT_TYPE_TEXT && argument.high == 0)
        g_calls->text = reinterpret_cast<const char*>(static_cast<uintptr_t>(argument.low));
    return 0;
}
RT_CALL intptr_t slot_service(int32_t service, intptr_t a, intptr_t, intptr_t, intptr_t) {
    record("service " + std::to_string(service));
    g_calls->release_routine = static_cast<uintptr_t>(a);
    return 0;
}
RT_CALL void slot_load_window(uint32_t window) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", window);
    record(std::string("load_window ") + text);
}
// Records and returns: the start routine goes on to its own return.
RT_CALL void slot_exit(int32_t code) {
    record("exit " + std::to_string(code));
}
RT_CALL void slot_unexpected() {
    std::abort();
}

class RunHost : public NativeMemoryHost {
  public:
    uint64_t slot(size_t index) override {
        switch (index * 4) {
            case RT_SLOT_HEAP_NEW:
                return reinterpret_cast<uintptr_t>(&slot_heap_new);
            case RT_SLOT_HEAP_FREE:
                return reinterpret_cast<uintptr_t>(&slot_heap_free);
            case RT_SLOT_KERNEL_COMMAND:
                return reinterpret_cast<uintptr_t>(&slot_kernel_command);
            case RT_SLOT_SERVICE:
                return reinterpret_cast<uintptr_t>(&slot_service);
            case RT_SLOT_LOAD_WINDOW:
                return reinterpret_cast<uintptr_t>(&slot_load_window);
            case RT_SLOT_EXIT:
                return reinterpret_cast<uintptr_t>(&slot_exit);
            default:
                return reinterpret_cast<uintptr_t>(&slot_unexpected);
        }
    }
    bool load_library(const LibraryEntry&, size_t) override { return true; }
    std::optional<uint64_t> resolve_dll(const DllDeclaration&) override { return std::nullopt; }
    std::optional<uint32_t> rewrite_identifier(uint32_t id) override { return id ^ 0x00FF0000; }
    std::optional<uint32_t> rewrite_dll_number(uint32_t n) override { return n; }
    std::optional<uint32_t> rewrite_library_position(uint32_t p) override { return p; }
    std::optional<uint32_t> rewrite_type_reference(uint32_t t) override { return t; }
};

// The x86-64 program:
//
//   thunks      jmp [slot table + 2 x slot] for the six slots used
//   release     mov eax, 42 / ret                  (its address goes to the runtime)
//   start       push rbx                           (aligns the stack to 16)
//               mov edi, 64 / call heap_new / mov rbx, rax
//               the argument block in var: count 1, one text argument whose
//               value is the address of "hello" in const
//               mov edi, 7 / mov esi, var / call kernel_command
//               mov edi, RT_SERVICE_ON_RELEASE / mov esi, release /
//                 xor edx, ecx, r8d / call service
//               mov edi, 0x52010001 (an identifier) / call load_window
//               mov rdi, rbx / call heap_free
//               mov edi, 3 / call exit
//               pop rbx / ret
std::vector<uint8_t> running_image(uint32_t& release) {
    constexpr auto kArch = Architecture::X86_64;
    Image model = empty_model(kArch);
    model.const_segment.data = text_bytes(std::string_view("hello\0", 6));
    model.var_size = 16;  // the argument block

    Code code;
    std::map<uint32_t, uint32_t> thunk;
    for (uint32_t slot : {RT_SLOT_HEAP_NEW, RT_SLOT_HEAP_FREE, RT_SLOT_KERNEL_COMMAND,
                          RT_SLOT_SERVICE, RT_SLOT_LOAD_WINDOW, RT_SLOT_EXIT}) {
        thunk[slot] = code.here();
        code.thunk(kArch, slot);
    }
    release = code.here();
    code.bytes({0xB8}).u32(42).bytes({0xC3});

    // mov dword [var + offset], value: C7 04 25 disp32 imm32.
    auto store_var = [&](uint32_t offset) -> Code& {
        return code.bytes({0xC7, 0x04, 0x25}).fixup(FixupKind::Var, offset);
    };
    model.start_routine = code.here();
    code.bytes({0x53});
    code.bytes({0xBF}).u32(64).call(thunk[RT_SLOT_HEAP_NEW]);
    code.bytes({0x48, 0x89, 0xC3});
    store_var(0).u32(1);
    store_var(4).fixup(FixupKind::Const, 0);
    store_var(8).u32(0);
    store_var(12).u32(RT_TYPE_TEXT);
    code.bytes({0xBF}).u32(7);
    code.bytes({0xBE}).fixup(FixupKind::Var, 0);
    code.call(thunk[RT_SLOT_KERNEL_COMMAND]);
    code.bytes({0xBF}).u32(RT_SERVICE_ON_RELEASE);
    code.bytes({0xBE}).fixup(FixupKind::Code, release);
    code.bytes({0x31, 0xD2, 0x31, 0xC9, 0x45, 0x31, 0xC0});
    code.call(thunk[RT_SLOT_SERVICE]);
    code.bytes({0xBF}).relocation(&RelocationLists::identifiers, RT_START_WINDOW);
    code.call(thunk[RT_SLOT_LOAD_WINDOW]);
    code.bytes({0x48, 0x89, 0xDF}).call(thunk[RT_SLOT_HEAP_FREE]);
    code.bytes({0xBF}).u32(3).call(thunk[RT_SLOT_EXIT]);
    code.bytes({0x5B, 0xC3});
    code.into(model);
    return write(model);
}

struct Mapping {
    uintptr_t from, to;
    std::string perms;  // "r-xp", ...
};

// The mappings that overlap [start, end), from /proc/self/maps.
std::vector<Mapping> mappings(uintptr_t start, uintptr_t end) {
    std::vector<Mapping> found;
    FILE* maps = std::fopen("/proc/self/maps", "r");
    if (maps == nullptr)
        return found;
    char line[512];
    while (std::fgets(line, sizeof line, maps)) {
        unsigned long long from = 0, to = 0;
        char perms[8] = {};
        if (std::sscanf(line, "%llx-%llx %7s", &from, &to, perms) == 3 && from < end && to > start)
            found.push_back({static_cast<uintptr_t>(from), static_cast<uintptr_t>(to), perms});
    }
    std::fclose(maps);
    return found;
}

TEST(BindImageNative, X86_64StartRoutineCallsItsSlotsInOrder) {
    uint32_t release = 0;
    const std::vector<uint8_t> bytes = running_image(release);
    RunHost host;
    auto bound = bind_image(bytes, host);
    ASSERT_FALSE(bound.is_error()) << bound.error();
    const BoundImage& image = bound.value();
    EXPECT_EQ(image.placement.address, reinterpret_cast<uintptr_t>(image.placement.memory));
    EXPECT_LE(image.placement.address + image.size, uint64_t{1} << 31);

    const auto start = static_cast<uintptr_t>(image.placement.address);
    bool code_seen = false;
    for (const Mapping& mapping : mappings(start, start + image.size)) {
        EXPECT_FALSE(mapping.perms[1] == 'w' && mapping.perms[2] == 'x')
            << "W+X at " << std::hex << mapping.from;
        if (mapping.from <= image.code_address && image.code_address < mapping.to) {
            EXPECT_EQ(mapping.perms.substr(0, 3), "r-x");
            EXPECT_GE(mapping.to, image.var_address);
            code_seen = true;
        }
    }
    EXPECT_TRUE(code_seen);

    Calls calls;
    g_calls = &calls;
    reinterpret_cast<RtStartRoutine>(static_cast<uintptr_t>(image.start_routine))();
    g_calls = nullptr;

    const std::vector<std::string> expected = {
        "heap_new 64",     "kernel_command 7 count 1",
        "service 3",       "load_window 0x52FE0001",
        "heap_free block", "exit 3",
    };
    EXPECT_EQ(calls.lines, expected);
    EXPECT_EQ(calls.text, "hello");
    EXPECT_EQ(calls.release_routine, image.code_address + release);
    using Routine = RT_CALL int (*)();
    EXPECT_EQ(reinterpret_cast<Routine>(calls.release_routine)(), 42);

    native_memory::release(image.placement, image.size);
}

TEST(BindImageNative, ReservationsLieBelowTheirLimitAndTakeProtections) {
    const Architecture architectures[] = {Architecture::I386, Architecture::X86_64};
    for (Architecture architecture : architectures) {
        SCOPED_TRACE(name_of(architecture));
        auto placement = native_memory::reserve(3 * kBindPageSize, architecture);
        ASSERT_TRUE(placement.has_value());
        EXPECT_TRUE(placement->zeroed);
        const uint64_t limit = uint64_t{1} << (architecture == Architecture::X86_64 ? 31 : 32);
        EXPECT_LE(placement->address + 3 * kBindPageSize, limit);
        for (size_t i = 0; i < 3 * kBindPageSize; ++i)
            ASSERT_EQ(placement->memory[i], 0);
        placement->memory[0] = 1;  // writable as reserved
        EXPECT_TRUE(native_memory::protect(*placement, kBindPageSize, kBindPageSize,
                                           Protection::ReadExecute));
        EXPECT_FALSE(native_memory::protect(*placement, 1, kBindPageSize, Protection::ReadOnly));
        const auto start = static_cast<uintptr_t>(placement->address);
        const auto found = mappings(start + kBindPageSize, start + 2 * kBindPageSize);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].perms.substr(0, 3), "r-x");
        native_memory::release(*placement, 3 * kBindPageSize);
        EXPECT_TRUE(mappings(start, start + 3 * kBindPageSize).empty());
    }
    EXPECT_FALSE(native_memory::reserve(0, Architecture::X86_64).has_value());
    EXPECT_FALSE(native_memory::reserve(size_t{1} << 31, Architecture::X86_64).has_value());
}

#endif  // __linux__ && __x86_64__

}  // namespace
}  // namespace image
