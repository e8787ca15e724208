// The application manifest of every assembled Windows program: the system
// reads resource 24/1 at process creation, so it must survive assembly intact
// and say what keeps a program named "update" from being taken for an
// installer (which needs elevation) and from having its writes redirected.
// Wine enforces neither, so this is checked in the files.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "base/executable/pe.h"
#include "base/executable/pe_resource.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
namespace pe = loader::pe;
using test_support::read_bytes;

struct Found {
    pe::PeFile file;
    pe::Resource resource;
    std::string xml;
};

// Parses `bytes` and reads its process manifest, failing the test on the way.
::testing::AssertionResult read_manifest(const std::vector<uint8_t>& bytes, Found& found) {
    std::string error;
    auto parsed = pe::parse(bytes, error);
    if (!parsed)
        return ::testing::AssertionFailure() << "not a PE file: " << error;
    auto resource =
        pe::find_resource(bytes, *parsed, pe::kResourceTypeManifest, pe::kProcessManifestId, error);
    if (!resource)
        return ::testing::AssertionFailure() << "no manifest: " << error;
    found = {*parsed, *resource,
             std::string(reinterpret_cast<const char*>(bytes.data()) + resource->file_offset,
                         resource->entry.size)};
    return ::testing::AssertionSuccess();
}

// The one element of `xml` that starts with `open`, up to its end.
std::string element(const std::string& xml, const std::string& open) {
    const size_t at = xml.find(open);
    if (at == std::string::npos || xml.find(open, at + 1) != std::string::npos)
        return {};
    const size_t end = xml.find('>', at);
    return end == std::string::npos ? std::string{} : xml.substr(at, end + 1 - at);
}

// Every assembled program of a Windows build folder.
std::vector<fs::path> programs(const fs::path& dir) {
    std::vector<fs::path> found;
    for (const char* folder : {"packgen", "launcher", "updater", "examples"}) {
        if (!fs::is_directory(dir / folder))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(dir / folder)) {
            if (entry.is_regular_file() && entry.path().extension() == ".exe" &&
                entry.path().string().find("CMakeFiles") == std::string::npos)
                found.push_back(entry.path());
        }
    }
    return found;
}

class WinManifestTest : public ::testing::TestWithParam<const char*> {};

TEST_P(WinManifestTest, EveryProgramRunsAsInvokerWithTheThemedControls) {
    const fs::path dir = GetParam();
    if (dir.empty())
        GTEST_SKIP() << "configured without this Windows build folder";
    const std::vector<fs::path> found = programs(dir);
    if (found.empty())
        GTEST_SKIP() << "no program assembled in " << dir;
    const std::string source =
        test_support::read_text(fs::path(SOURCE_DIR) / "loader" / "stub" / "stub.manifest");

    for (const fs::path& path : found) {
        SCOPED_TRACE(path.string());
        const std::vector<uint8_t> bytes = read_bytes(path);
        Found manifest;
        ASSERT_TRUE(read_manifest(bytes, manifest));
        EXPECT_EQ(manifest.xml, source) << "the manifest is not the stub's";

        const std::string level = element(manifest.xml, "<requestedExecutionLevel ");
        EXPECT_NE(level.find("level=\"asInvoker\""), std::string::npos) << level;
        EXPECT_NE(level.find("uiAccess=\"false\""), std::string::npos) << level;
        EXPECT_NE(manifest.xml.find("<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">"),
                  std::string::npos);
        const std::string controls = element(manifest.xml,
                                             "<assemblyIdentity type=\"win32\" "
                                             "name=\"Microsoft.Windows.Common-");
        for (const char* attribute :
             {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
              "processorArchitecture=\"*\"", "publicKeyToken=\"6595b64144ccf1df\""})
            EXPECT_NE(controls.find(attribute), std::string::npos)
                << attribute << " in " << controls;

        // The tree and the bytes stay in the stub's resource section, in front of
        // the image section that assembly appends.
        const pe::SectionHeader* rsrc = manifest.file.find(".rsrc");
        const pe::SectionHeader* image = manifest.file.find(".image");
        ASSERT_NE(rsrc, nullptr);
        ASSERT_NE(image, nullptr);
        auto table = pe::data_directory(bytes, manifest.file, pe::kDirectoryResource);
        ASSERT_TRUE(table.has_value());
        EXPECT_EQ(table->rva, rsrc->virtual_address);
        EXPECT_LE(uint64_t{table->rva} + table->size,
                  uint64_t{rsrc->virtual_address} + rsrc->virtual_size);
        EXPECT_GE(manifest.resource.file_offset, rsrc->raw_offset);
        EXPECT_LE(manifest.resource.file_offset + manifest.resource.entry.size,
                  uint64_t{rsrc->raw_offset} + rsrc->raw_size);
        EXPECT_LT(rsrc->virtual_address, image->virtual_address);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, WinManifestTest, ::testing::Values(WIN_X64_DIR, WIN_X86_DIR),
                         [](const auto& info) { return info.index == 0 ? "x64" : "x86"; });

// Damaged resource trees are refused without a read outside the file: each
// case rewrites one field of the stub's own tree.
struct Damage {
    const char* name;
    // The u32 field that is rewritten.
    enum class Where { DirectorySize, TypeCount, TypeTarget, LanguageTarget, DataSize, DataRva };
    Where where;
    uint32_t value;
};

void PrintTo(const Damage& damage, std::ostream* out) {
    *out << damage.name;
}

class WinResourceDamageTest : public ::testing::TestWithParam<Damage> {};

TEST_P(WinResourceDamageTest, IsRefused) {
    if (std::string(WIN_X64_DIR).empty())
        GTEST_SKIP() << "configured without WIN_X64_DIR";
    std::vector<uint8_t> bytes = read_bytes(fs::path(WIN_X64_DIR) / "loader" / "stub.exe");
    Found intact;
    ASSERT_TRUE(read_manifest(bytes, intact));
    auto table = pe::data_directory(bytes, intact.file, pe::kDirectoryResource);
    ASSERT_TRUE(table.has_value());
    const uint64_t tree = *pe::rva_to_file_offset(intact.file, bytes.size(), table->rva, 1);

    // The stub's tree holds just the manifest: one entry per level.
    auto u32_at = [&](uint64_t at) { return base::load_le32(bytes.data() + at); };
    const uint64_t type_entry = tree + pe::ResourceDirectory::kSize;
    const uint64_t name_dir = tree + (u32_at(type_entry + 4) & 0x7FFFFFFF);
    const uint64_t language_dir =
        tree + (u32_at(name_dir + pe::ResourceDirectory::kSize + 4) & 0x7FFFFFFF);
    const uint64_t language_entry = language_dir + pe::ResourceDirectory::kSize;
    const uint64_t data_entry = tree + u32_at(language_entry + 4);
    ASSERT_LT(data_entry + pe::ResourceDataEntry::kSize, bytes.size());

    const uint64_t directory_entry = intact.file.optional_at +
                                     (intact.file.is_pe32_plus() ? 112 : 96) +
                                     pe::kDirectoryResource * 8;
    const Damage& damage = GetParam();
    uint64_t at = 0;
    switch (damage.where) {
        case Damage::Where::DirectorySize:
            at = directory_entry + 4;
            break;
        case Damage::Where::TypeCount:
            at = tree + 12;
            break;  // both counts as one u32
        case Damage::Where::TypeTarget:
            at = type_entry + 4;
            break;
        case Damage::Where::LanguageTarget:
            at = language_entry + 4;
            break;
        case Damage::Where::DataSize:
            at = data_entry + 4;
            break;
        case Damage::Where::DataRva:
            at = data_entry;
            break;
    }
    base::store_le32(bytes.data() + at, damage.value);
    std::string error;
    auto parsed = pe::parse(bytes, error);
    ASSERT_TRUE(parsed.has_value()) << error;
    EXPECT_FALSE(
        pe::find_resource(bytes, *parsed, pe::kResourceTypeManifest, pe::kProcessManifestId, error)
            .has_value());
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WinResourceDamageTest,
    ::testing::Values(
        Damage{"TreeBeyondItsSection", Damage::Where::DirectorySize, 0x7FFFFFF0},
        Damage{"IdEntriesBehindTooManyNamedOnes", Damage::Where::TypeCount, 0x0001FFFF},
        Damage{"SubdirectoryBeyondTheTree", Damage::Where::TypeTarget, 0xFFFFFFF0},
        Damage{"TypeLeadsToData", Damage::Where::TypeTarget, 0x00000010},
        Damage{"LanguageLeadsToADirectory", Damage::Where::LanguageTarget, 0x80000000},
        Damage{"DataEntryBeyondTheTree", Damage::Where::LanguageTarget, 0x7FFFFFF8},
        Damage{"DataLongerThanTheFile", Damage::Where::DataSize, 0xFFFFFFF0},
        Damage{"DataOutsideEverySection", Damage::Where::DataRva, 0x7FFF0000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
