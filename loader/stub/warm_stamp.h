// The warm-start stamp: after a runtime folder has been filled from a
// package, a stamp file named after the package records the identity (size,
// last-write time, file id) of every file written. A later start of the same
// package whose files all still carry those identities skips decompression
// and writing altogether.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "loader/package/reader.h"
#include "loader/stub/os.h"

namespace loader {

// What distinguishes one package from another without decompressing it; the
// stream's last four bytes are its Adler-32 check of the whole file list.
struct PackageIdentity {
    uint32_t package_length = 0;
    uint32_t folder_number = 0;
    uint32_t scramble_key = 0;
    uint32_t unpacked_size = 0;
    uint32_t list_check = 0;
    bool operator==(const PackageIdentity&) const = default;
};

PackageIdentity identify_package(std::span<const uint8_t> package, const PackageHeader& header);

// ".loader-stamp-" and 16 hexadecimal digits.
std::string stamp_file_name(const PackageIdentity& identity);

struct StampedFile {
    std::string name;
    os::FileIdentity identity;
};

std::vector<uint8_t> encode_stamp(const PackageIdentity& identity,
                                  std::span<const StampedFile> files);

// The stamp's file list, if it is well-formed and written for `identity`.
std::optional<std::vector<StampedFile>> decode_stamp(std::span<const uint8_t> stamp,
                                                     const PackageIdentity& identity);

inline constexpr size_t kMaxStampSize = 1 << 20;

}  // namespace loader
