#include "loader/package/writer.h"

#include <zlib.h>

#include <cstdlib>

#include "base/byte_reader.h"
#include "loader/package/format.h"
#include "loader/package/scramble.h"

namespace loader {

namespace {

void append_u32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    base::store_le32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

}  // namespace

std::vector<uint8_t> encode_file_list(std::span<const RuntimeFile> files) {
    std::vector<uint8_t> list;
    for (const RuntimeFile& file : files) {
        list.insert(list.end(), file.name.begin(), file.name.end());
        list.push_back(0);
        append_u32(list, static_cast<uint32_t>(file.content.size()));
        list.insert(list.end(), file.content.begin(), file.content.end());
    }
    return list;
}

std::vector<uint8_t> zlib_compress(std::span<const uint8_t> data, int level) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> stream(size);
    if (compress2(stream.data(), &size, data.data(), static_cast<uLong>(data.size()), level) !=
        Z_OK)
        std::abort();  // only on allocation failure or a bad level: a build-time fault
    stream.resize(size);
    return stream;
}

PackageFields default_package_fields() {
    PackageFields fields;
    fields.magic = kPackageMagic;
    fields.data_magic = kDataMagic;
    return fields;
}

std::vector<uint8_t> build_package(const PackageFields& fields) {
    std::vector<uint8_t> package;
    append_u32(package, fields.magic);
    append_u32(package, fields.folder_number);
    append_u32(package, fields.scramble_key);
    package.insert(package.end(), fields.folder_name.begin(), fields.folder_name.end());
    package.push_back(0);
    append_u32(package, fields.data_magic);
    append_u32(package, fields.unpacked_size);
    package.insert(package.end(), fields.stream.begin(), fields.stream.end());
    scramble(std::span(package).subspan(kScrambledFrom), fields.scramble_key);
    return package;
}

std::vector<uint8_t> build_package(std::span<const RuntimeFile> files, uint32_t folder_number,
                                   const std::string& folder_name, uint32_t scramble_key,
                                   int level) {
    std::vector<uint8_t> list = encode_file_list(files);
    PackageFields fields = default_package_fields();
    fields.folder_number = folder_number;
    fields.folder_name = folder_name;
    fields.scramble_key = scramble_key;
    fields.unpacked_size = static_cast<uint32_t>(list.size());
    fields.stream = zlib_compress(list, level);
    return build_package(fields);
}

void append_package(std::vector<uint8_t>& executable, std::span<const uint8_t> package) {
    executable.insert(executable.end(), package.begin(), package.end());
    append_u32(executable, static_cast<uint32_t>(package.size()));
    append_u32(executable, kPackageMagic);
}

uint32_t content_folder_number(std::span<const RuntimeFile> files) {
    std::vector<uint8_t> list = encode_file_list(files);
    // Two independent checksums folded together: crc32 and adler32 of the list.
    uLong crc = crc32(0L, list.data(), static_cast<uInt>(list.size()));
    uLong adler = adler32(1L, list.data(), static_cast<uInt>(list.size()));
    return static_cast<uint32_t>(crc ^ (adler << 1) ^ (adler >> 31));
}

}  // namespace loader
