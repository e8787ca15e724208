// Fuzzing what the loader reads from its own executable file. One input is
// taken as a whole executable, package and trailer included, and goes through
// every reading step the stub takes before it writes anything: the trailer,
// the package magic, the scrambled header, decompression and the runtime file
// list. The same bytes also go to the warm-start stamp parser and to the ELF64
// and PE section readers.
//
// Besides the sanitizers' own findings, each step's promises to the next one
// are checked; a broken promise aborts with the input saved.
//
// A custom mutator keeps inputs that hold a readable package readable: now
// and then it mutates the decompressed file list and packs it again, so that
// the list parser sees more than the lists of the seeds (any change to the
// stored stream itself almost always fails its Adler-32 check).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"
#include "base/executable/elf64.h"
#include "base/executable/image_section.h"
#include "base/executable/pe.h"
#include "base/gbk.h"
#include "loader/package/format.h"
#include "loader/package/reader.h"
#include "loader/package/scramble.h"
#include "loader/package/writer.h"
#include "loader/stub/warm_stamp.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

namespace {

using namespace loader;

// The stub allocates whatever unpacked size a package announces, up to 2 GiB.
// A larger buffer takes the reading code down no other path, but a fuzzer
// that allocated 2 GiB for an input of a few bytes would hit its memory limit
// (and be slow) long before finding anything, so larger announcements are
// left unread here.
constexpr uint32_t kMaxUnpackedSize = 64u << 20;

// The identity the stamp parser is given: fixed, so that the fuzzer can learn
// the matching first line ("package 0 0 0 0 0\n") from the seeds.
constexpr PackageIdentity kStampIdentity{};

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

// The reading steps' results, as far as the package got.
struct PackageRead {
    PackageExtent extent{};
    std::vector<uint8_t> stored;  // the package as the file holds it
    std::optional<PackageHeader> header;
    std::unique_ptr<uint8_t[]> list;  // the decompressed file list, when it got that far
    size_t list_size = 0;
};

// The stub's steps from the trailer to the decompressed file list.
std::optional<PackageRead> read_package(std::span<const uint8_t> file) {
    if (file.size() < kTrailerSize)
        return std::nullopt;
    auto extent = locate_package(file.size(), file.last<kTrailerSize>());
    if (extent.is_error())
        return std::nullopt;

    PackageRead read;
    read.extent = extent.value();
    check(read.extent.length >= 4, "a located package holds at least its magic");
    check(read.extent.offset + read.extent.length >= kMinTrailerPosition,
          "a located package ends at or after the least trailer position");
    check(read.extent.offset + read.extent.length == file.size() - kTrailerSize,
          "a located package ends where the trailer starts");
    check(read.extent.offset > 0, "a located package leaves room for the executable");
    read.stored.assign(
        file.begin() + static_cast<ptrdiff_t>(read.extent.offset),
        file.begin() + static_cast<ptrdiff_t>(read.extent.offset) + read.extent.length);

    if (check_package_magic(read.stored).is_error())
        return read;
    check(base::load_le32(read.stored.data()) == kPackageMagic,
          "an accepted package starts with the package magic");

    auto parsed = parse_header(read.stored);
    if (parsed.is_error())
        return read;
    const PackageHeader& header = read.header.emplace(parsed.release_value());
    check(header.stream_offset >= kMinPackageLength, "the stream follows the whole header");
    check(header.stream_offset <= read.stored.size(), "the stream starts inside the package");
    check(header.folder_name.size() <= kMaxNameLength, "the folder name is not too long");
    check(base::is_bare_name(header.folder_name), "the folder name is a bare name");
    check(header.unpacked_size > 0 && header.unpacked_size <= 0x7FFFFFFFu,
          "the unpacked size is a positive 32-bit signed number");

    const PackageIdentity identity = identify_package(read.stored, header);
    check(identity.package_length == read.stored.size(), "the identity records the length");
    const std::string stamp_name = stamp_file_name(identity);
    check(stamp_name.size() == kReservedPrefix.size() + 6 + 16 &&
              std::string_view(stamp_name).starts_with(kReservedPrefix) &&
              base::is_bare_name(stamp_name),
          "the stamp file name is a reserved bare name");

    if (header.unpacked_size > kMaxUnpackedSize)
        return read;
    // Like the stub's buffer, left uninitialised: decompression fills it.
    read.list.reset(new uint8_t[header.unpacked_size]);
    std::vector<uint8_t> package = read.stored;  // decompression must only read it
    auto produced =
        decompress(package, header, std::span<uint8_t>(read.list.get(), header.unpacked_size));
    check(package == read.stored, "decompression leaves the package as it was");
    if (produced.is_error()) {
        read.list.reset();
        return read;
    }
    check(produced.value() <= header.unpacked_size, "decompression stays inside its buffer");
    read.list_size = produced.value();
    return read;
}

void check_file_list(std::span<const uint8_t> list) {
    auto parsed = parse_file_list(list);
    if (parsed.is_error())
        return;
    const std::vector<RuntimeFileView>& files = parsed.value();

    std::vector<RuntimeFile> copies;
    for (const RuntimeFileView& file : files) {
        auto inside = [&](const void* start, size_t size) {
            auto* p = static_cast<const uint8_t*>(start);
            return p >= list.data() && size <= list.size() &&
                   static_cast<size_t>(p - list.data()) <= list.size() - size;
        };
        check(inside(file.name.data(), file.name.size() + 1), "a name lies inside the list");
        check(inside(file.content.data(), file.content.size()), "content lies inside the list");
        check(file.name.size() <= kMaxNameLength, "a file name is not too long");
        check(base::is_bare_name(file.name), "a file name is a bare name");
        check(!file.name.starts_with(kReservedPrefix), "no file takes a reserved name");
        copies.push_back({std::string(file.name),
                          std::vector<uint8_t>(file.content.begin(), file.content.end())});
    }
    // The entries split the list without gaps: writing them again gives it back.
    const std::vector<uint8_t> again = encode_file_list(copies);
    check(again.size() == list.size() && std::equal(again.begin(), again.end(), list.begin()),
          "the entries make up the whole list");

    const std::optional<size_t> kernel = find_kernel_library(files);
    std::optional<size_t> last_kernel;
    for (size_t i = 0; i < files.size(); ++i) {
        if (is_kernel_library_name(files[i].name))
            last_kernel = i;
    }
    check(kernel == last_kernel, "the kernel library is the last entry named like it");
}

void check_stamp(std::span<const uint8_t> file) {
    if (file.size() > kMaxStampSize)
        return;  // the stub reads no larger stamp
    auto stamped = decode_stamp(file, kStampIdentity);
    if (!stamped)
        return;
    check(!stamped->empty(), "a stamp names at least one file");
    for (const StampedFile& entry : *stamped)
        check(!entry.name.empty() && entry.name.size() <= kMaxNameLength,
              "a stamped name has 1 to 255 bytes");
    // What a decoded stamp says survives writing it again.
    auto again = decode_stamp(encode_stamp(kStampIdentity, *stamped), kStampIdentity);
    check(again.has_value() && again->size() == stamped->size(), "a stamp decodes again");
    for (size_t i = 0; i < stamped->size(); ++i) {
        check((*again)[i].name == (*stamped)[i].name &&
                  (*again)[i].identity == (*stamped)[i].identity,
              "a stamp decodes again to the same files");
    }
}

void check_elf(std::span<const uint8_t> file) {
    // find_section checks every offset and count against the file before
    // reading, so a read outside the file is a missed check.
    auto read = [file](uint64_t offset, std::span<uint8_t> out) {
        check(offset <= file.size() && out.size() <= file.size() - offset,
              "the ELF reader reads only inside the file");
        if (!out.empty())  // an empty name table comes as a null span
            std::memcpy(out.data(), file.data() + offset, out.size());
        return true;
    };
    for (const char* name : {kImageSectionName, ".shstrtab"}) {
        auto section = elf64::find_section(read, file.size(), name);
        if (section) {
            check(section->offset <= file.size() && section->size <= file.size() - section->offset,
                  "a found ELF section lies inside the file");
        }
    }
}

void check_pe(std::span<const uint8_t> file) {
    std::string error;
    auto parsed = pe::parse(file, error);
    if (!parsed) {
        check(!error.empty(), "a refused PE file says why");
        return;
    }
    const pe::PeFile& pe = *parsed;
    check(pe.optional.magic == pe::kMagicPe32 || pe.optional.magic == pe::kMagicPe32Plus,
          "a PE file has a known optional header magic");
    check(pe.optional.file_alignment != 0 && pe.optional.section_alignment != 0,
          "a PE file has non-zero alignments");
    check(pe.optional_at == pe.coff_at + pe::kCoffHeaderSize &&
              pe.optional_at + pe.coff.optional_header_size <= file.size(),
          "the optional header lies inside the file");
    check(pe.sections.size() == pe.coff.section_count, "every section header is read");
    check(pe.section_table_at + pe.sections.size() * pe::kSectionHeaderSize <= file.size(),
          "the section table lies inside the file");
    for (const pe::SectionHeader& section : pe.sections) {
        check(
            section.raw_size == 0 || uint64_t{section.raw_offset} + section.raw_size <= file.size(),
            "section data lies inside the file");
        check(section.name_text().size() <= 8, "a section name has at most 8 bytes");
    }
    if (const pe::SectionHeader* image = pe.find(kImageSectionName))
        check(image->name_text() == kImageSectionName, "find gives the section asked for");
    check(pe.sections_end() >= pe.optional.size_of_headers, "sections end after the headers");
}

// Packs a mutated file list into the package of `file`, keeping the
// executable part, the folder fields and the scramble key.
std::optional<std::vector<uint8_t>> mutate_list(std::span<const uint8_t> file, size_t max_size,
                                                std::minstd_rand& random) {
    auto read = read_package(file);
    if (!read || !read->list)
        return std::nullopt;
    const PackageHeader& header = *read->header;

    std::vector<uint8_t> list(read->list.get(), read->list.get() + read->list_size);
    const size_t capacity = list.size() + std::min<size_t>(list.size(), 256) + 16;
    list.resize(capacity);
    list.resize(LLVMFuzzerMutate(list.data(), read->list_size, capacity));

    // Mostly the list's true size; now and then one off it or the old value,
    // for a buffer a byte too small or too large.
    uint32_t announced = static_cast<uint32_t>(list.size());
    switch (random() % 8) {
        case 0:
            announced -= 1;
            break;
        case 1:
            announced += 1;
            break;
        case 2:
            announced = header.unpacked_size;
            break;
        default:
            break;
    }
    if (announced == 0)
        announced = 1;

    std::vector<uint8_t> package(
        read->stored.begin(), read->stored.begin() + static_cast<ptrdiff_t>(header.stream_offset));
    uint8_t* size_field = package.data() + header.stream_offset - 4;
    base::store_le32(size_field, announced);
    scramble({size_field, 4}, header.scramble_key, header.stream_offset - 4 - kScrambledFrom);
    std::vector<uint8_t> stream = zlib_compress(list, static_cast<int>(random() % 10));
    scramble(stream, header.scramble_key, header.stream_offset - kScrambledFrom);
    package.insert(package.end(), stream.begin(), stream.end());

    std::vector<uint8_t> out(file.begin(),
                             file.begin() + static_cast<ptrdiff_t>(read->extent.offset));
    append_package(out, package);
    if (out.size() > max_size)
        return std::nullopt;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    if (auto read = read_package(file); read && read->list)
        check_file_list({read->list.get(), read->list_size});
    check_stamp(file);
    check_elf(file);
    check_pe(file);
    return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned int seed) {
    std::minstd_rand random(seed);
    if (random() % 2 == 0) {
        if (auto mutated = mutate_list({data, size}, max_size, random)) {
            std::memcpy(data, mutated->data(), mutated->size());
            return mutated->size();
        }
    }
    return LLVMFuzzerMutate(data, size, max_size);
}
