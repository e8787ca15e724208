// Byte layout of the runtime package appended to every program. All integers
// are little-endian; offsets are bytes.
//
//   ... executable sections ... | package (package_length bytes) | trailer (8 bytes)
//
// Package, offsets from its first byte:
//   0   u32  package magic (plain)
//   4   u32  folder number (plain)
//   8   u32  scramble key (plain)
//   12  ...  folder name, zero-terminated; a lone zero means "none stored"  (scrambled from here
//   on) +0  u32  data magic +4  i32  unpacked size of the runtime file list, > 0 +8  ...  zlib
//   stream (RFC 1950) of the runtime file list, to the end of the package
//
// Runtime file list (decompressed), entries back to back:
//   name (zero-terminated bare file name), u32 length, length content bytes
#pragma once

#include <cstddef>
#include <cstdint>

namespace loader {

inline constexpr uint32_t kPackageMagic = 0x829AB7A5;
inline constexpr uint32_t kDataMagic = 0x033E0F0D;

// The last 8 bytes of the executable file.
struct PackageTrailer {
    int32_t package_length;  // bytes of the package, the trailer not counted; at least 4
    uint32_t magic;          // kPackageMagic
};
inline constexpr size_t kTrailerSize = 8;

// A trailer whose file position is below this belongs to no package: files
// shorter than 1008 bytes are refused outright.
inline constexpr uint64_t kMinTrailerPosition = 1000;

// The plain (unscrambled) start of the package.
struct PackagePlainHeader {
    uint32_t magic;          // kPackageMagic again
    uint32_t folder_number;  // names the folder "E_N%X" when no folder name is stored
    uint32_t scramble_key;   // key of the XOR scrambling of everything from kScrambledFrom on
};
inline constexpr size_t kPlainHeaderSize = 12;
inline constexpr size_t kScrambledFrom = 12;

// Smallest package with room for the plain header, an empty folder name,
// the data magic and the unpacked size: 21 bytes.
inline constexpr size_t kMinPackageLength = kPlainHeaderSize + 1 + 4 + 4;

// Longest folder or file name accepted, in bytes (one path component).
inline constexpr size_t kMaxNameLength = 255;

// Names of the kernel library, compared without regard to A-Z letter case;
// the last matching entry of the list wins.
inline constexpr const char* kKernelLibraryNames[] = {"krnln.fnr", "krnln.fne"};

}  // namespace loader
