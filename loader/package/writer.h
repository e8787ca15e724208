// Producing runtime packages: the build step that appends the runtime to a
// program, and the tests that need packages of every shape.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace loader {

struct RuntimeFile {
    std::string name;  // bare file name, ANSI (GBK) bytes
    std::vector<uint8_t> content;
};

// name, zero, u32 length, content: for each file in order.
std::vector<uint8_t> encode_file_list(std::span<const RuntimeFile> files);

// A zlib stream (RFC 1950) of `data`.
std::vector<uint8_t> zlib_compress(std::span<const uint8_t> data, int level);

// Every field of a package as it is to be stored; tests set odd values.
struct PackageFields {
    uint32_t magic;
    uint32_t folder_number = 0;
    uint32_t scramble_key = 0;
    std::string folder_name;  // stored without its terminating zero; empty: none
    uint32_t data_magic;
    uint32_t unpacked_size = 0;
    std::vector<uint8_t> stream;
};

PackageFields default_package_fields();

// The package bytes, scrambled from offset 12 on.
std::vector<uint8_t> build_package(const PackageFields& fields);

// A package of `files`, with unpacked size and stream filled in.
std::vector<uint8_t> build_package(std::span<const RuntimeFile> files, uint32_t folder_number,
                                   const std::string& folder_name, uint32_t scramble_key,
                                   int level);

// Appends the package and its trailer to an executable's bytes.
void append_package(std::vector<uint8_t>& executable, std::span<const uint8_t> package);

// A 32-bit folder number derived from the runtime files' content, so that
// two different runtimes never share a runtime folder by accident.
uint32_t content_folder_number(std::span<const RuntimeFile> files);

}  // namespace loader
