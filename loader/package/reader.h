// Reading the runtime package: each step checks what it reads against the
// bytes that hold it and fails with the loader's message for that case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error_or.h"
#include "loader/package/format.h"
#include "loader/package/load_error.h"

namespace loader {

template <typename T>
using LoadResult = base::ErrorOr<T, LoadError>;

// Where the package lies in the executable file, from its trailer.
struct PackageExtent {
    uint64_t offset;  // file offset of the package's first byte
    uint32_t length;  // package length
};

// From the file size and the last 8 bytes of the file: the trailer checks.
LoadResult<PackageExtent> locate_package(uint64_t file_size,
                                         std::span<const uint8_t, kTrailerSize> trailer);

// The package's leading magic, once its bytes are read.
LoadResult<void> check_package_magic(std::span<const uint8_t> package);

// What the scrambled header says, read without unscrambling the package.
struct PackageHeader {
    uint32_t folder_number = 0;
    uint32_t scramble_key = 0;
    std::string folder_name;  // as stored, or "E_N%X" of the folder number
    uint32_t unpacked_size = 0;
    size_t stream_offset = 0;  // package offset of the zlib stream
};

// Checks the length, then reads the header. The folder name must be a bare
// name that ends inside the package.
LoadResult<PackageHeader> parse_header(std::span<const uint8_t> package);

// Inflates the package's stream into `out` (capacity = the unpacked size),
// unscrambling it piece by piece on the way, so the package itself is only
// read. The stream must end within the capacity and its check value must
// match. Gives the number of bytes produced.
LoadResult<size_t> decompress(std::span<const uint8_t> package, const PackageHeader& header,
                              std::span<uint8_t> out);

// One entry of the runtime file list, pointing into the list's bytes.
struct RuntimeFileView {
    std::string_view name;
    std::span<const uint8_t> content;
};

// Splits the whole list; an entry that runs past the end of the list, or a
// name that is not a bare file name, rejects the list.
LoadResult<std::vector<RuntimeFileView>> parse_file_list(std::span<const uint8_t> list);

bool is_kernel_library_name(std::string_view name);

// Index of the last entry named like the kernel library.
std::optional<size_t> find_kernel_library(std::span<const RuntimeFileView> files);

// Names that the loader keeps for its own files in the runtime folder (stamp,
// temporary files); no runtime file may take one.
inline constexpr std::string_view kReservedPrefix = ".loader-";

}  // namespace loader
