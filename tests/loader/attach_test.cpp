// Attaching an image to the stub: the image is found again through the
// section table, whatever the stub's size.
#include "loader/assemble/attach.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/executable/elf64.h"
#include "base/executable/image_section.h"
#include "base/executable/pe.h"
#include "tests/support/test_support.h"

namespace loader {
namespace {

using test_support::read_bytes;
using test_support::sample_image;

std::optional<elf64::SectionExtent> find_image(std::span<const uint8_t> file) {
    auto read = [&](uint64_t offset, std::span<uint8_t> out) {
        if (offset > file.size() || out.size() > file.size() - offset)
            return false;
        std::memcpy(out.data(), file.data() + offset, out.size());
        return true;
    };
    return elf64::find_section(read, file.size(), kImageSectionName);
}

TEST(AttachElf, ImageFoundThroughTheSectionTable) {
    std::vector<uint8_t> stub = read_bytes(NATIVE_BUILD_DIR "/loader/stub");
    for (size_t size : {1u, 4096u, 100000u}) {
        std::vector<uint8_t> image = sample_image(size);
        auto program = attach_image(stub, image);
        ASSERT_FALSE(program.is_error()) << program.error();
        auto section = find_image(program.value());
        ASSERT_TRUE(section);
        EXPECT_EQ(section->offset % 4096, 0u);
        ASSERT_EQ(section->size, size);
        EXPECT_TRUE(
            std::equal(image.begin(), image.end(), program.value().begin() + section->offset));
        // Everything of the stub but its section table's place is unchanged.
        std::vector<uint8_t> edited = program.value();
        std::memcpy(edited.data() + elf64::FileHeader::kShoffAt,
                    stub.data() + elf64::FileHeader::kShoffAt, 8);
        std::memcpy(edited.data() + elf64::FileHeader::kShnumAt,
                    stub.data() + elf64::FileHeader::kShnumAt, 2);
        EXPECT_TRUE(std::equal(stub.begin(), stub.end(), edited.begin()));
    }
}

TEST(AttachElf, RefusesASecondImageAndNonExecutables) {
    std::vector<uint8_t> stub = read_bytes(NATIVE_BUILD_DIR "/loader/stub");
    auto once = attach_image(stub, sample_image());
    ASSERT_FALSE(once.is_error());
    EXPECT_TRUE(attach_image(once.value(), sample_image()).is_error());
    std::vector<uint8_t> text(2000, 'a');
    EXPECT_TRUE(attach_image(text, sample_image()).is_error());
    std::vector<uint8_t> truncated(stub.begin(), stub.begin() + 200);
    EXPECT_TRUE(attach_image(truncated, sample_image()).is_error());
}

TEST(AttachPe, ImageSectionLastAndAligned) {
    for (const char* dir : {WIN_X64_DIR, WIN_X86_DIR}) {
        std::string path = std::string(dir) + "/loader/stub.exe";
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << "no Windows build at " << dir;
        std::vector<uint8_t> stub = read_bytes(path);
        std::vector<uint8_t> image = sample_image(5000);
        auto program = attach_image(stub, image);
        ASSERT_FALSE(program.is_error()) << program.error();
        std::string why;
        auto pe = pe::parse(program.value(), why);
        ASSERT_TRUE(pe) << why;
        const pe::SectionHeader& last = pe->sections.back();
        EXPECT_EQ(last.name_text(), kImageSectionName);
        EXPECT_EQ(last.virtual_size, image.size());
        EXPECT_EQ(last.raw_size % 4096, 0u);
        EXPECT_EQ(last.virtual_address % pe->optional.section_alignment, 0u);
        EXPECT_EQ(pe->optional.size_of_image % pe->optional.section_alignment, 0u);
        EXPECT_GE(pe->optional.size_of_image, last.virtual_address + last.virtual_size);
        EXPECT_EQ(pe->sections_end(), program.value().size()) << "the package goes right behind";
        EXPECT_TRUE(
            std::equal(image.begin(), image.end(), program.value().begin() + last.raw_offset));
    }
}

}  // namespace
}  // namespace loader
