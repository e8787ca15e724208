// Writes the seed inputs of package_reader_fuzz into the folder given as the
// only argument: executables that carry a valid package (behind plain
// padding, a small ELF64 file and small PE32+ and PE32 files), so that the
// fuzzer starts past the trailer and header checks, inside decompression and
// the file list; and a warm-start stamp for the identity the target uses.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/executable/elf64.h"
#include "base/executable/image_section.h"
#include "base/executable/pe.h"
#include "loader/package/writer.h"
#include "loader/stub/warm_stamp.h"

namespace {

using namespace loader;
namespace fs = std::filesystem;

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = 0x9E3779B9u * (seed + 1u);
    for (uint8_t& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::vector<uint8_t> text(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

void pad_to(std::vector<uint8_t>& bytes, size_t size) {
    if (bytes.size() < size)
        bytes.resize(size, 0);
}

// An ELF64 file of a header, an image section, a section name table and a
// section table: what find_section looks for, nothing more.
std::vector<uint8_t> small_elf(const std::vector<uint8_t>& image) {
    std::vector<uint8_t> out(elf64::FileHeader::kSize, 0);
    const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
    std::copy(std::begin(ident), std::end(ident), out.begin());
    base::store_le16(out.data() + 16, 2);     // executable
    base::store_le16(out.data() + 18, 0x3E);  // x86-64
    base::store_le32(out.data() + 20, 1);     // version
    base::store_le16(out.data() + 0x34, elf64::FileHeader::kSize);

    const uint64_t image_at = out.size();
    out.insert(out.end(), image.begin(), image.end());
    const std::string names("\0.image\0.shstrtab\0", 18);
    const uint64_t names_at = out.size();
    out.insert(out.end(), names.begin(), names.end());
    pad_to(out, (out.size() + 7) / 8 * 8);

    const uint64_t table_at = out.size();
    elf64::SectionHeader sections[3] = {};
    sections[1].name = 1;
    sections[1].type = elf64::kSectionProgbits;
    sections[1].offset = image_at;
    sections[1].size = image.size();
    sections[1].alignment = 1;
    sections[2].name = 8;
    sections[2].type = elf64::kSectionStrtab;
    sections[2].offset = names_at;
    sections[2].size = names.size();
    sections[2].alignment = 1;
    out.resize(table_at + 3 * elf64::SectionHeader::kSize);
    for (size_t i = 0; i < 3; ++i)
        sections[i].write(out.data() + table_at + i * elf64::SectionHeader::kSize);

    base::store_le64(out.data() + elf64::FileHeader::kShoffAt, table_at);
    base::store_le16(out.data() + elf64::FileHeader::kShentsizeAt, elf64::SectionHeader::kSize);
    base::store_le16(out.data() + elf64::FileHeader::kShnumAt, 3);
    base::store_le16(out.data() + elf64::FileHeader::kShstrndxAt, 2);
    return out;
}

// A PE32+ or PE32 file with a code section and an image section.
std::vector<uint8_t> small_pe(bool plus, const std::vector<uint8_t>& image) {
    constexpr uint32_t kFileAlignment = 0x200;
    constexpr uint32_t kSectionAlignment = 0x1000;
    const uint16_t optional_size = plus ? 240 : 224;
    const uint32_t image_raw = (static_cast<uint32_t>(image.size()) + kFileAlignment - 1) /
                               kFileAlignment * kFileAlignment;

    std::vector<uint8_t> out(kFileAlignment, 0);
    out[0] = 'M';
    out[1] = 'Z';
    base::store_le32(out.data() + pe::kDosLfanewAt, 0x40);
    base::store_le32(out.data() + 0x40, 0x00004550);  // "PE\0\0"

    uint8_t* coff = out.data() + 0x44;
    base::store_le16(coff, plus ? pe::kMachineAmd64 : pe::kMachineI386);
    base::store_le16(coff + 2, 2);
    base::store_le16(coff + 16, optional_size);
    base::store_le16(coff + 18, plus ? 0x0022 : 0x0103);

    uint8_t* opt = coff + pe::kCoffHeaderSize;
    base::store_le16(opt, plus ? pe::kMagicPe32Plus : pe::kMagicPe32);
    if (plus)
        base::store_le64(opt + 24, 0x140000000ull);
    else
        base::store_le32(opt + 28, 0x400000);
    base::store_le32(opt + 32, kSectionAlignment);
    base::store_le32(opt + 36, kFileAlignment);
    base::store_le32(opt + pe::kOptSizeOfImageAt, 3 * kSectionAlignment);
    base::store_le32(opt + 60, kFileAlignment);  // size of headers
    base::store_le16(opt + 68, pe::kSubsystemGui);
    base::store_le16(opt + 70, pe::kDllDynamicBase);
    base::store_le32(opt + (plus ? 108 : 92), 16);  // data directory entries

    pe::SectionHeader code{};
    std::snprintf(code.name, sizeof code.name, "%s", ".text");
    code.virtual_size = 16;
    code.virtual_address = kSectionAlignment;
    code.raw_size = kFileAlignment;
    code.raw_offset = kFileAlignment;
    code.characteristics = 0x60000020;
    pe::SectionHeader data{};
    std::memcpy(data.name, kImageSectionName, sizeof kImageSectionName);
    data.virtual_size = static_cast<uint32_t>(image.size());
    data.virtual_address = 2 * kSectionAlignment;
    data.raw_size = image_raw;
    data.raw_offset = 2 * kFileAlignment;
    data.characteristics = pe::kSectionInitializedData | pe::kSectionMemRead;
    uint8_t* table = opt + optional_size;
    pe::write_section_header(table, code);
    pe::write_section_header(table + pe::kSectionHeaderSize, data);

    out.resize(2 * kFileAlignment, 0xCC);
    out[kFileAlignment] = 0xC3;
    out.insert(out.end(), image.begin(), image.end());
    pad_to(out, 2 * kFileAlignment + image_raw);
    return out;
}

std::vector<RuntimeFile> runtime_files(bool upper_case_kernel) {
    return {
        {upper_case_kernel ? "KRNLN.FNR" : "krnln.fne", pattern(600, 1)},
        {"support.dll", pattern(90, 2)},
        // GBK names: two double-byte characters, then one whose trail byte is '\'.
        {"\xD6\xD0\xCE\xC4.txt", text("text\n")},
        {"\x95\x5C.dat", {}},
    };
}

void write_seed(const fs::path& folder, const std::string& name,
                const std::vector<uint8_t>& bytes) {
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
        std::exit(1);
    }
}

std::vector<uint8_t> with_package(std::vector<uint8_t> executable,
                                  const std::vector<uint8_t>& package) {
    append_package(executable, package);
    return executable;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    fs::create_directories(folder);

    const std::vector<RuntimeFile> files = runtime_files(false);
    const std::vector<uint8_t> named =
        build_package(files, content_folder_number(files), "runtime", 0x5A3C961Eu, 9);
    const std::vector<uint8_t> stored = build_package(runtime_files(true), 0x1234ABCDu, "", 0, 0);
    const std::vector<RuntimeFile> two_kernels = {{"krnln.fnr", pattern(40, 3)},
                                                  {"krnln.fne", pattern(40, 4)}};
    const std::vector<uint8_t> twice = build_package(two_kernels, 7, "E_N7", 0xFFFFFFFFu, 6);
    const std::vector<RuntimeFile> no_kernel = {{"readme.txt", text("no kernel here")}};
    const std::vector<uint8_t> kernelless = build_package(no_kernel, 1, "", 0x01020304u, 1);

    const std::vector<uint8_t> padding(1024, 0x90);
    write_seed(folder, "padding-named", with_package(padding, named));
    write_seed(folder, "padding-stored", with_package(padding, stored));
    write_seed(folder, "padding-two-kernels", with_package(padding, twice));
    write_seed(folder, "padding-no-kernel", with_package(padding, kernelless));

    const std::vector<uint8_t> image = pattern(1024, 5);
    write_seed(folder, "elf-named", with_package(small_elf(image), named));
    write_seed(folder, "pe32plus-named", with_package(small_pe(true, image), named));
    write_seed(folder, "pe32-stored", with_package(small_pe(false, image), stored));

    const std::vector<StampedFile> stamped = {
        {"krnln.fne", {600, 133500000000000000ull, 4242}},
        {"\xD6\xD0\xCE\xC4.txt", {5, 1700000000ull, 17}},
    };
    write_seed(folder, "stamp", encode_stamp(PackageIdentity{}, stamped));
    return 0;
}
