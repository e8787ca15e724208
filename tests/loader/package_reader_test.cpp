// The package reader against the format's rules, case by case.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "base/byte_reader.h"
#include "loader/package/reader.h"
#include "loader/package/scramble.h"
#include "loader/package/writer.h"

namespace loader {
namespace {

std::array<uint8_t, kTrailerSize> trailer(int32_t length, uint32_t magic = kPackageMagic) {
    std::array<uint8_t, kTrailerSize> bytes;
    base::store_le32(bytes.data(), static_cast<uint32_t>(length));
    base::store_le32(bytes.data() + 4, magic);
    return bytes;
}

TEST(LocatePackage, TrailerChecks) {
    struct Case {
        const char* what;
        uint64_t file_size;
        int32_t length;
        uint32_t magic;
        std::optional<LoadError> error;
    };
    const Case cases[] = {
        {"1007-byte file", 1007, 100, kPackageMagic, LoadError::InvalidData},
        {"1008-byte file", 1008, 100, kPackageMagic, std::nullopt},
        {"wrong trailer magic", 5000, 100, 0x829AB7A4, LoadError::InvalidData},
        {"length below 4", 5000, 3, kPackageMagic, LoadError::InvalidData},
        {"negative length", 5000, -1, kPackageMagic, LoadError::InvalidData},
        {"length 4", 5000, 4, kPackageMagic, std::nullopt},
        {"length equal to trailer position", 5000, 4992, kPackageMagic, LoadError::InvalidData},
        {"length one below trailer position", 5000, 4991, kPackageMagic, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto extent = locate_package(c.file_size, trailer(c.length, c.magic));
        ASSERT_EQ(extent.is_error(), c.error.has_value());
        if (c.error) {
            EXPECT_EQ(extent.error(), *c.error);
        } else {
            EXPECT_EQ(extent.value().length, static_cast<uint32_t>(c.length));
            EXPECT_EQ(extent.value().offset, c.file_size - kTrailerSize - c.length);
        }
    }
}

TEST(LocatePackage, LeadingMagicIsAReadFailureNotInvalidData) {
    std::vector<uint8_t> package = build_package(default_package_fields());
    EXPECT_FALSE(check_package_magic(package).is_error());
    package[0] ^= 1;
    auto checked = check_package_magic(package);
    ASSERT_TRUE(checked.is_error());
    EXPECT_EQ(checked.error(), LoadError::PackageReadFailed);
}

TEST(Scramble, KeyBytesCycleFromByteOne) {
    // Region byte j takes key byte (j + 1) mod 4: 1, 2, 3, 0, 1, ...
    std::vector<uint8_t> region(9, 0);
    scramble(region, 0x44332211);
    EXPECT_EQ(region, (std::vector<uint8_t>{0x22, 0x33, 0x44, 0x11, 0x22, 0x33, 0x44, 0x11, 0x22}));
}

TEST(Scramble, KeyZeroAndEqualBytes) {
    std::vector<uint8_t> region = {1, 2, 3, 4, 5, 6, 7};
    std::vector<uint8_t> original = region;
    scramble(region, 0);
    EXPECT_EQ(region, original);
    scramble(region, 0x5A5A5A5A);
    for (size_t i = 0; i < region.size(); ++i)
        EXPECT_EQ(region[i], original[i] ^ 0x5A);
}

TEST(Scramble, AnySliceAloneMatchesTheWhole) {
    std::vector<uint8_t> whole(37);
    for (size_t i = 0; i < whole.size(); ++i)
        whole[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> pieces = whole;
    scramble(whole, 0xA1B2C3D4);
    for (size_t start : {0u, 1u, 6u, 13u}) {
        std::vector<uint8_t> copy = pieces;
        std::span<uint8_t> span(copy);
        scramble(span.subspan(0, start), 0xA1B2C3D4, 0);
        scramble(span.subspan(start), 0xA1B2C3D4, start);
        EXPECT_EQ(copy, whole) << "split at " << start;
    }
    scramble(whole, 0xA1B2C3D4);
    EXPECT_EQ(whole, pieces) << "scrambling twice restores the bytes";
}

PackageFields fields_with(std::string folder_name, uint32_t folder_number) {
    PackageFields fields = default_package_fields();
    fields.folder_name = std::move(folder_name);
    fields.folder_number = folder_number;
    fields.scramble_key = 0x9C3A5E71;
    fields.unpacked_size = 1;
    return fields;
}

TEST(ParseHeader, FolderNames) {
    struct Case {
        std::string stored;
        uint32_t folder_number;
        std::string expected;
    };
    const Case cases[] = {
        {"", 0, "E_N0"},           {"", 0x1A2B, "E_N1A2B"},     {"", 0xFFFFFFFF, "E_NFFFFFFFF"},
        {"X", 0x1A2B, "X"},  // a stored name wins over the number
        {"runtime", 7, "runtime"}, {"\xB1\x5C", 7, "\xB1\x5C"},  // a GBK character whose trail byte
                                                                 // is '\'
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        std::vector<uint8_t> package = build_package(fields_with(c.stored, c.folder_number));
        auto header = parse_header(package);
        ASSERT_FALSE(header.is_error());
        EXPECT_EQ(header.value().folder_name, c.expected);
        EXPECT_EQ(header.value().folder_number, c.folder_number);
        // Name, its zero, data magic, unpacked size: no padding anywhere.
        EXPECT_EQ(header.value().stream_offset, 12 + c.stored.size() + 1 + 8);
    }
}

TEST(ParseHeader, RejectedHeaders) {
    struct Case {
        const char* what;
        std::vector<uint8_t> package;
    };
    auto with = [](auto change) {
        PackageFields fields = fields_with("", 1);
        change(fields);
        return build_package(fields);
    };
    std::vector<uint8_t> twenty = build_package(fields_with("", 1));
    twenty.resize(20);
    std::vector<uint8_t> unterminated = build_package(fields_with("abcdefghijklmnopqrstuvwxyz", 1));
    unterminated.resize(12 + 26);  // the name runs to the end of the package
    const Case cases[] = {
        {"20-byte package", twenty},
        {"name without its zero", unterminated},
        {"wrong data magic", with([](PackageFields& f) { f.data_magic = 0x033E0F0C; })},
        {"unpacked size 0", with([](PackageFields& f) { f.unpacked_size = 0; })},
        {"unpacked size negative", with([](PackageFields& f) { f.unpacked_size = 0x80000000; })},
        {"folder name ..", with([](PackageFields& f) { f.folder_name = ".."; })},
        {"folder name with /", with([](PackageFields& f) { f.folder_name = "a/b"; })},
        {"folder name with \\", with([](PackageFields& f) { f.folder_name = "a\\b"; })},
        {"folder name with a drive", with([](PackageFields& f) { f.folder_name = "C:"; })},
        {"folder name too long", with([](PackageFields& f) { f.folder_name.assign(256, 'a'); })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto header = parse_header(c.package);
        ASSERT_TRUE(header.is_error());
        EXPECT_EQ(header.error(), LoadError::InvalidData);
    }
}

TEST(ParseHeader, TwentyOneBytesPassUntilDecompression) {
    std::vector<uint8_t> package = build_package(fields_with("", 0));
    ASSERT_EQ(package.size(), 21u);
    auto header = parse_header(package);
    ASSERT_FALSE(header.is_error());
    std::vector<uint8_t> out(1);
    auto produced = decompress(package, header.value(), out);
    ASSERT_TRUE(produced.is_error());
    EXPECT_EQ(produced.error(), LoadError::DecompressFailed);
}

// A package of `list` whose header announces `announced` bytes.
std::vector<uint8_t> package_announcing(std::span<const uint8_t> list, uint32_t announced) {
    PackageFields fields = fields_with("", 5);
    fields.unpacked_size = announced;
    fields.stream = zlib_compress(list, 6);
    return build_package(fields);
}

TEST(Decompress, AnnouncedSizeBounds) {
    std::vector<uint8_t> list(1000, 'x');
    struct Case {
        uint32_t announced;
        std::optional<size_t> produced;
    };
    const Case cases[] = {{1000, 1000}, {1500, 1000}, {999, std::nullopt}, {1, std::nullopt}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.announced);
        std::vector<uint8_t> package = package_announcing(list, c.announced);
        auto header = parse_header(package);
        ASSERT_FALSE(header.is_error());
        std::vector<uint8_t> out(header.value().unpacked_size);
        auto produced = decompress(package, header.value(), out);
        ASSERT_EQ(produced.is_error(), !c.produced.has_value());
        if (c.produced) {
            EXPECT_EQ(produced.value(), *c.produced);
            EXPECT_TRUE(std::equal(list.begin(), list.end(), out.begin()));
        } else {
            EXPECT_EQ(produced.error(), LoadError::DecompressFailed);
        }
    }
}

TEST(Decompress, DamagedStreams) {
    std::vector<uint8_t> list(300, 'y');
    std::vector<uint8_t> stream = zlib_compress(list, 6);
    auto damaged = [&](auto change) {
        PackageFields fields = fields_with("", 5);
        fields.unpacked_size = 300;
        fields.stream = stream;
        change(fields.stream);
        return build_package(fields);
    };
    const std::vector<uint8_t> packages[] = {
        damaged([](std::vector<uint8_t>& s) { s.back() ^= 1; }),           // wrong check value
        damaged([](std::vector<uint8_t>& s) { s.resize(s.size() - 5); }),  // cut short
        damaged([](std::vector<uint8_t>& s) { s[0] = 0x00; }),             // not a zlib header
    };
    for (const std::vector<uint8_t>& package : packages) {
        auto header = parse_header(package);
        ASSERT_FALSE(header.is_error());
        std::vector<uint8_t> out(300);
        std::vector<uint8_t> copy = package;
        auto produced = decompress(copy, header.value(), out);
        ASSERT_TRUE(produced.is_error());
        EXPECT_EQ(produced.error(), LoadError::DecompressFailed);
    }
}

TEST(FileList, EntriesInOrder) {
    const RuntimeFile files[] = {{"krnln.fne", {1, 2, 3}}, {"empty", {}}, {"krnln.fne", {9}}};
    std::vector<uint8_t> list = encode_file_list(files);
    auto parsed = parse_file_list(list);
    ASSERT_FALSE(parsed.is_error());
    ASSERT_EQ(parsed.value().size(), 3u);
    EXPECT_EQ(parsed.value()[1].name, "empty");
    EXPECT_TRUE(parsed.value()[1].content.empty());
    EXPECT_EQ(parsed.value()[2].content.size(), 1u);
    EXPECT_TRUE(parse_file_list({}).value().empty());
}

TEST(FileList, RejectsWhatRunsPastTheEndOrLeavesTheFolder) {
    std::vector<uint8_t> good = encode_file_list(std::vector<RuntimeFile>{{"a.dll", {1, 2, 3, 4}}});
    auto cut = [&](size_t keep) { return std::vector<uint8_t>(good.begin(), good.begin() + keep); };
    auto named = [](std::string name) {
        return encode_file_list(std::vector<RuntimeFile>{{std::move(name), {1}}});
    };
    std::vector<uint8_t> huge_length = good;
    base::store_le32(huge_length.data() + 6, 0xFFFFFFFF);
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"name without its zero", cut(3)},
        {"length field cut", cut(8)},
        {"content cut", cut(good.size() - 1)},
        {"length beyond the list", huge_length},
        {"empty name", named("")},
        {"parent folder", named("..")},
        {"relative path", named("../evil.so")},
        {"absolute path", named("/etc/x")},
        {"backslash path", named("sub\\x.dll")},
        {"drive", named("C:x.dll")},
        {"control character", named("a\nb")},
        {"loader's own name", named(".loader-stamp-0")},
    };
    for (const auto& [what, list] : cases) {
        SCOPED_TRACE(what);
        auto parsed = parse_file_list(list);
        ASSERT_TRUE(parsed.is_error());
        EXPECT_EQ(parsed.error(), LoadError::InvalidData);
    }
}

TEST(FileList, KernelLibraryIsTheLastMatchIgnoringCase) {
    auto kernel_of = [](std::vector<std::string> names) -> std::optional<size_t> {
        std::vector<RuntimeFileView> files;
        for (const std::string& name : names)
            files.push_back({name, {}});
        return find_kernel_library(files);
    };
    std::vector<std::string> both = {"KRNLN.FNR", "krnln.fne"};
    std::vector<std::string> capital = {"x.dll", "KRNLN.FNR"};
    std::vector<std::string> mixed = {"Krnln.Fne", "eAPI"};
    std::vector<std::string> none = {"krnln.fn", "krnln.fnex", "krnln"};
    EXPECT_EQ(kernel_of(both), 1u);
    EXPECT_EQ(kernel_of(capital), 1u);
    EXPECT_EQ(kernel_of(mixed), 0u);
    EXPECT_EQ(kernel_of(none), std::nullopt);
}

TEST(Writer, RoundTripThroughTheReader) {
    const RuntimeFile files[] = {{"krnln.fne", std::vector<uint8_t>(5000, 7)},
                                 {"internet.fne", {1}}};
    std::vector<uint8_t> package = build_package(files, 0xBEEF, "", 0x01020304, 9);
    std::vector<uint8_t> program(2000, 0xCC);
    append_package(program, package);

    auto extent = locate_package(program.size(), std::span<const uint8_t, 8>(program.end() - 8, 8));
    ASSERT_FALSE(extent.is_error());
    std::span<uint8_t> found(program.data() + extent.value().offset, extent.value().length);
    ASSERT_FALSE(check_package_magic(found).is_error());
    auto header = parse_header(found);
    ASSERT_FALSE(header.is_error());
    EXPECT_EQ(header.value().folder_name, "E_NBEEF");
    std::vector<uint8_t> out(header.value().unpacked_size);
    auto produced = decompress(found, header.value(), out);
    ASSERT_FALSE(produced.is_error());
    auto list = parse_file_list(std::span(out).first(produced.value()));
    ASSERT_FALSE(list.is_error());
    ASSERT_EQ(list.value().size(), 2u);
    EXPECT_EQ(list.value()[0].content.size(), 5000u);
    EXPECT_EQ(find_kernel_library(list.value()), 0u);
}

}  // namespace
}  // namespace loader
