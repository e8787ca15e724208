// The layout of assembled Windows programs, checked byte by byte. A win-x86
// program cannot run here (wine runs 64-bit programs only), so its fixed-base
// layout is checked in the file itself; the win-x64 program gets the checks
// that apply to it as well. The stand-in kernel libraries that the scenario
// tests rely on are checked for their export.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/executable/pe.h"
#include "loader/package/reader.h"
#include "loader/package/writer.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
namespace pe = loader::pe;
using test_support::read_bytes;

constexpr uint16_t kFileDll = 0x2000;
constexpr uint32_t kSectionCode = 0x00000020;
constexpr uint32_t kSectionMemExecute = 0x20000000;
constexpr uint32_t kSectionMemWrite = 0x80000000;
constexpr uint32_t kDirectoryExport = 0;

struct Target {
    const char* name;
    const char* dir;
    uint16_t magic;
    uint16_t machine;
};

// Names the target in test listings.
void PrintTo(const Target& target, std::ostream* out) {
    *out << target.name;
}

const Target kWinX86{"x86", WIN_X86_DIR, pe::kMagicPe32, pe::kMachineI386};
const Target kWinX64{"x64", WIN_X64_DIR, pe::kMagicPe32Plus, pe::kMachineAmd64};

uint64_t round_up(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

pe::PeFile parse_or_fail(std::span<const uint8_t> file) {
    std::string error;
    auto parsed = pe::parse(file, error);
    if (!parsed)
        throw std::runtime_error("not a PE file: " + error);
    return *parsed;
}

// Data directory entry `index`: RVA and size, if the optional header has it.
std::optional<std::pair<uint32_t, uint32_t>> directory(std::span<const uint8_t> file,
                                                       const pe::PeFile& pe, uint32_t index) {
    if (index >= pe.optional.directory_count)
        return std::nullopt;
    size_t at = pe.optional_at + (pe.is_pe32_plus() ? 112 : 96) + size_t{index} * 8;
    if (at + 8 > pe.optional_at + pe.coff.optional_header_size)
        return std::nullopt;
    base::ByteView view(file);
    auto rva = view.u32(at);
    auto size = view.u32(at + 4);
    if (!rva || !size)
        return std::nullopt;
    return std::pair{*rva, *size};
}

// File offset of `length` bytes at `rva`, if one section's file data holds
// them all.
std::optional<size_t> file_offset(std::span<const uint8_t> file, const pe::PeFile& pe, uint64_t rva,
                                  uint64_t length) {
    for (const pe::SectionHeader& section : pe.sections) {
        if (rva < section.virtual_address ||
            rva - section.virtual_address + length > section.raw_size)
            continue;
        uint64_t offset = section.raw_offset + (rva - section.virtual_address);
        if (base::ByteView(file).has(offset, length))
            return offset;
    }
    return std::nullopt;
}

// The names in the export directory, or nullopt when the directory or one of
// its tables lies outside the file.
std::optional<std::vector<std::string>> exported_names(std::span<const uint8_t> file,
                                                       const pe::PeFile& pe) {
    auto entry = directory(file, pe, kDirectoryExport);
    if (!entry)
        return std::nullopt;
    if (entry->first == 0)
        return std::vector<std::string>{};
    base::ByteView view(file);
    auto at = file_offset(file, pe, entry->first, 40);
    if (!at)
        return std::nullopt;
    uint32_t count = *view.u32(*at + 24);
    uint32_t names_rva = *view.u32(*at + 32);
    auto names_at = file_offset(file, pe, names_rva, uint64_t{count} * 4);
    if (!names_at)
        return std::nullopt;
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
        auto name_at = file_offset(file, pe, *view.u32(*names_at + size_t{i} * 4), 1);
        auto end = name_at ? view.find_zero(*name_at) : std::nullopt;
        if (!end)
            return std::nullopt;
        names.emplace_back(reinterpret_cast<const char*>(file.data()) + *name_at, *end - *name_at);
    }
    return names;
}

// A program of the target's stub, a sample image and a package holding the
// target's working stand-in kernel library.
struct AssembledProgram {
    std::vector<uint8_t> stub;
    std::vector<uint8_t> image;
    std::vector<uint8_t> kernel;
    std::vector<uint8_t> bytes;
};

AssembledProgram assemble(const Target& target) {
    AssembledProgram program;
    fs::path dir = target.dir;
    program.stub = read_bytes(dir / "loader" / "stub.exe");
    program.image = test_support::sample_image(4096 * 2 + 123, 3);
    program.kernel = read_bytes(dir / "tests" / "standin_kernel_0.dll");
    std::string notes = "notes";
    std::vector<loader::RuntimeFile> files = {{"krnln.fne", program.kernel},
                                              {"notes.txt", {notes.begin(), notes.end()}}};
    auto package = loader::build_package(files, 0x51, "", 0x6D2B79F5u, 9);
    program.bytes = test_support::make_program(program.stub, program.image, package);
    return program;
}

class WinProgramLayoutTest : public ::testing::TestWithParam<Target> {
  protected:
    void SetUp() override {
        if (std::string(GetParam().dir).empty())
            GTEST_SKIP() << "configured without the " << GetParam().name << " build folder";
    }
};

TEST_P(WinProgramLayoutTest, IsAGuiProgramOfTheTargetMachine) {
    AssembledProgram program = assemble(GetParam());
    pe::PeFile pe = parse_or_fail(program.bytes);
    EXPECT_EQ(pe.optional.magic, GetParam().magic);
    EXPECT_EQ(pe.coff.machine, GetParam().machine);
    EXPECT_EQ(pe.optional.subsystem, pe::kSubsystemGui);
}

TEST_P(WinProgramLayoutTest, ImageSectionComesLastAndLeavesTheStubsSectionsAlone) {
    AssembledProgram program = assemble(GetParam());
    pe::PeFile stub = parse_or_fail(program.stub);
    pe::PeFile pe = parse_or_fail(program.bytes);
    ASSERT_EQ(pe.sections.size(), stub.sections.size() + 1);

    for (size_t i = 0; i < stub.sections.size(); ++i) {
        const pe::SectionHeader& before = stub.sections[i];
        const pe::SectionHeader& after = pe.sections[i];
        SCOPED_TRACE(before.name_text());
        EXPECT_EQ(after.name_text(), before.name_text());
        EXPECT_EQ(after.virtual_address, before.virtual_address);
        EXPECT_EQ(after.virtual_size, before.virtual_size);
        EXPECT_EQ(after.raw_offset, before.raw_offset);
        ASSERT_EQ(after.raw_size, before.raw_size);
        EXPECT_TRUE(std::equal(program.stub.begin() + before.raw_offset,
                               program.stub.begin() + before.raw_offset + before.raw_size,
                               program.bytes.begin() + after.raw_offset))
            << "section data changed";
    }

    const pe::SectionHeader& image = pe.sections.back();
    ASSERT_EQ(image.name_text(), ".image");
    EXPECT_EQ(pe.find(".image"), &image) << "more than one image section";
    EXPECT_EQ(image.raw_size, round_up(program.image.size(), 4096));
    EXPECT_GE(image.virtual_size, program.image.size());
    EXPECT_EQ(image.raw_offset % pe.optional.file_alignment, 0u);
    EXPECT_GE(image.raw_offset, stub.sections_end());
    ASSERT_LE(uint64_t{image.raw_offset} + image.raw_size, program.bytes.size());
    auto data = std::span(program.bytes).subspan(image.raw_offset, image.raw_size);
    EXPECT_TRUE(std::equal(program.image.begin(), program.image.end(), data.begin()));
    EXPECT_TRUE(std::all_of(data.begin() + static_cast<ptrdiff_t>(program.image.size()), data.end(),
                            [](uint8_t b) { return b == 0; }))
        << "padding behind the image is not zero";

    EXPECT_EQ(image.characteristics & (pe::kSectionInitializedData | pe::kSectionMemRead),
              pe::kSectionInitializedData | pe::kSectionMemRead);
    EXPECT_EQ(image.characteristics & (kSectionCode | kSectionMemExecute | kSectionMemWrite), 0u);

    // Mapped behind everything else, and within the image size.
    uint64_t mapped_end = 0;
    for (const pe::SectionHeader& section : stub.sections)
        mapped_end = std::max<uint64_t>(
            mapped_end, section.virtual_address + std::max(section.virtual_size, section.raw_size));
    EXPECT_EQ(image.virtual_address % pe.optional.section_alignment, 0u);
    EXPECT_GE(image.virtual_address, mapped_end);
    EXPECT_GE(pe.optional.size_of_image,
              round_up(uint64_t{image.virtual_address} + image.virtual_size,
                       pe.optional.section_alignment));
}

TEST_P(WinProgramLayoutTest, PackageFollowsTheSectionsAndGivesBackTheKernel) {
    AssembledProgram program = assemble(GetParam());
    pe::PeFile pe = parse_or_fail(program.bytes);
    const size_t size = program.bytes.size();

    std::span<const uint8_t, loader::kTrailerSize> trailer(
        program.bytes.data() + size - loader::kTrailerSize, loader::kTrailerSize);
    auto extent = loader::locate_package(size, trailer);
    ASSERT_FALSE(extent.is_error());
    EXPECT_EQ(extent.value().offset, pe.sections_end());
    EXPECT_EQ(extent.value().offset + extent.value().length + loader::kTrailerSize, size);

    std::vector<uint8_t> package(
        program.bytes.begin() + static_cast<ptrdiff_t>(extent.value().offset),
        program.bytes.end() - loader::kTrailerSize);
    ASSERT_FALSE(loader::check_package_magic(package).is_error());
    auto header = loader::parse_header(package);
    ASSERT_FALSE(header.is_error());
    EXPECT_EQ(header.value().folder_name, "E_N51");
    std::vector<uint8_t> list(header.value().unpacked_size);
    auto produced = loader::decompress(package, header.value(), list);
    ASSERT_FALSE(produced.is_error());
    ASSERT_EQ(produced.value(), list.size());
    auto files = loader::parse_file_list(list);
    ASSERT_FALSE(files.is_error());
    auto kernel = loader::find_kernel_library(files.value());
    ASSERT_TRUE(kernel.has_value());
    const loader::RuntimeFileView& entry = files.value()[*kernel];
    EXPECT_EQ(entry.name, "krnln.fne");
    EXPECT_TRUE(std::equal(entry.content.begin(), entry.content.end(), program.kernel.begin(),
                           program.kernel.end()));
}

INSTANTIATE_TEST_SUITE_P(WinX86, WinProgramLayoutTest, ::testing::Values(kWinX86),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(WinX64, WinProgramLayoutTest, ::testing::Values(kWinX64),
                         [](const auto& info) { return std::string(info.param.name); });

// The win-x86 program loads at its fixed base: nothing in it can be relocated.
TEST(WinX86Structure, LoadsAtItsFixedBaseWithoutRelocations) {
    if (std::string(kWinX86.dir).empty())
        GTEST_SKIP() << "configured without WIN_X86_DIR";
    AssembledProgram program = assemble(kWinX86);
    pe::PeFile pe = parse_or_fail(program.bytes);
    EXPECT_EQ(pe.optional.image_base, 0x400000u);
    EXPECT_NE(pe.coff.characteristics & pe::kFileRelocsStripped, 0);
    EXPECT_EQ(pe.optional.dll_characteristics & pe::kDllDynamicBase, 0);
    auto relocations = directory(program.bytes, pe, pe::kDirectoryBaseRelocation);
    ASSERT_TRUE(relocations.has_value());
    EXPECT_EQ(relocations->first, 0u);
    EXPECT_EQ(relocations->second, 0u);
    EXPECT_EQ(pe.find(".reloc"), nullptr);
}

// The stand-in kernel libraries: DLLs of their target, exporting GetNewSock
// except for the flavour made without it.
struct StandinCase {
    Target target;
    int flavour;
};

void PrintTo(const StandinCase& standin, std::ostream* out) {
    *out << standin.target.name << " flavour " << standin.flavour;
}

class WinStandinKernelTest : public ::testing::TestWithParam<StandinCase> {};

TEST_P(WinStandinKernelTest, IsADllOfItsTargetWithTheExpectedExport) {
    const StandinCase& standin = GetParam();
    if (std::string(standin.target.dir).empty())
        GTEST_SKIP() << "configured without the " << standin.target.name << " build folder";
    auto dll = read_bytes(fs::path(standin.target.dir) / "tests" /
                          ("standin_kernel_" + std::to_string(standin.flavour) + ".dll"));
    pe::PeFile pe = parse_or_fail(dll);
    EXPECT_EQ(pe.optional.magic, standin.target.magic);
    EXPECT_EQ(pe.coff.machine, standin.target.machine);
    EXPECT_NE(pe.coff.characteristics & kFileDll, 0);
    auto names = exported_names(dll, pe);
    ASSERT_TRUE(names.has_value()) << "export directory outside the file";
    bool exports = std::find(names->begin(), names->end(), "GetNewSock") != names->end();
    EXPECT_EQ(exports, standin.flavour != 2);
}

std::string standin_name(const ::testing::TestParamInfo<StandinCase>& info) {
    return std::string(info.param.target.name) + "_flavour" + std::to_string(info.param.flavour);
}

INSTANTIATE_TEST_SUITE_P(WinX86, WinStandinKernelTest,
                         ::testing::Values(StandinCase{kWinX86, 0}, StandinCase{kWinX86, 1},
                                           StandinCase{kWinX86, 2}),
                         standin_name);
INSTANTIATE_TEST_SUITE_P(WinX64, WinStandinKernelTest,
                         ::testing::Values(StandinCase{kWinX64, 0}, StandinCase{kWinX64, 1},
                                           StandinCase{kWinX64, 2}),
                         standin_name);

}  // namespace
