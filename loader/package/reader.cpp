#include "loader/package/reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include "base/byte_reader.h"
#include "base/gbk.h"
#include "loader/package/scramble.h"

namespace loader {

using base::fail;

LoadResult<PackageExtent> locate_package(uint64_t file_size,
                                         std::span<const uint8_t, kTrailerSize> trailer_bytes) {
    if (file_size < kMinTrailerPosition + kTrailerSize)
        return fail(LoadError::InvalidData);
    const uint64_t trailer_position = file_size - kTrailerSize;
    const PackageTrailer trailer{
        static_cast<int32_t>(base::load_le32(trailer_bytes.data())),
        base::load_le32(trailer_bytes.data() + 4),
    };
    if (trailer.magic != kPackageMagic)
        return fail(LoadError::InvalidData);
    if (trailer.package_length < 4)
        return fail(LoadError::InvalidData);
    if (static_cast<uint64_t>(trailer.package_length) >= trailer_position)
        return fail(LoadError::InvalidData);
    const auto length = static_cast<uint32_t>(trailer.package_length);
    return PackageExtent{trailer_position - length, length};
}

LoadResult<void> check_package_magic(std::span<const uint8_t> package) {
    base::ByteView view(package);
    if (view.u32(0) != kPackageMagic)
        return fail(LoadError::PackageReadFailed);
    return {};
}

namespace {

// Reads the scrambled part of the package byte by byte, unscrambling on the fly.
class ScrambledReader {
  public:
    ScrambledReader(std::span<const uint8_t> package, uint32_t key)
        : package_(package), key_(key) {}

    std::optional<uint8_t> byte(size_t offset) const {
        if (offset < kScrambledFrom || offset >= package_.size())
            return std::nullopt;
        return unscramble_byte(package_[offset], key_, offset - kScrambledFrom);
    }
    std::optional<uint32_t> u32(size_t offset) const {
        uint32_t value = 0;
        for (size_t i = 0; i < 4; ++i) {
            auto b = byte(offset + i);
            if (!b)
                return std::nullopt;
            value |= static_cast<uint32_t>(*b) << (8 * i);
        }
        return value;
    }

  private:
    std::span<const uint8_t> package_;
    uint32_t key_;
};

std::string folder_number_name(uint32_t folder_number) {
    char text[16];
    std::snprintf(text, sizeof text, "E_N%X", folder_number);
    return text;
}

}  // namespace

LoadResult<PackageHeader> parse_header(std::span<const uint8_t> package) {
    if (package.size() < kMinPackageLength)
        return fail(LoadError::InvalidData);
    base::ByteView plain(package);
    PackageHeader header;
    header.folder_number = *plain.u32(4);
    header.scramble_key = *plain.u32(8);

    ScrambledReader scrambled(package, header.scramble_key);
    size_t position = kScrambledFrom;
    for (;;) {
        auto c = scrambled.byte(position);
        if (!c)
            return fail(LoadError::InvalidData);  // the name runs to the end of the package
        ++position;
        if (*c == 0)
            break;
        if (header.folder_name.size() == kMaxNameLength)
            return fail(LoadError::InvalidData);
        header.folder_name.push_back(static_cast<char>(*c));
    }
    if (header.folder_name.empty())
        header.folder_name = folder_number_name(header.folder_number);
    else if (!base::is_bare_name(header.folder_name))
        return fail(LoadError::InvalidData);

    auto data_magic = scrambled.u32(position);
    auto unpacked_size = scrambled.u32(position + 4);
    if (!data_magic || !unpacked_size || *data_magic != kDataMagic)
        return fail(LoadError::InvalidData);
    if (static_cast<int32_t>(*unpacked_size) <= 0)
        return fail(LoadError::InvalidData);
    header.unpacked_size = *unpacked_size;
    header.stream_offset = position + 8;
    return header;
}

LoadResult<size_t> decompress(std::span<const uint8_t> package, const PackageHeader& header,
                              std::span<uint8_t> out) {
    if (header.stream_offset > package.size())
        return fail(LoadError::DecompressFailed);
    std::span<const uint8_t> stream = package.subspan(header.stream_offset);

    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return fail(LoadError::OutOfMemory);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());

    uint8_t chunk[64 * 1024];
    size_t consumed = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (z.avail_in == 0) {
            if (consumed == stream.size())
                break;  // the stream ends before its end marker
            size_t take = std::min(sizeof chunk, stream.size() - consumed);
            std::copy_n(stream.data() + consumed, take, chunk);
            scramble({chunk, take}, header.scramble_key,
                     header.stream_offset - kScrambledFrom + consumed);
            consumed += take;
            z.next_in = chunk;
            z.avail_in = static_cast<uInt>(take);
        }
        status = inflate(&z, Z_NO_FLUSH);
        // No progress: with room left, zlib only wants the next piece; with
        // the output full, the stream holds more than the announced size.
        if (status == Z_BUF_ERROR && z.avail_out != 0 && z.avail_in == 0 &&
            consumed < stream.size())
            status = Z_OK;  // zlib only wants more input
    }
    const size_t produced = z.total_out;
    inflateEnd(&z);
    if (status != Z_STREAM_END)
        return fail(LoadError::DecompressFailed);
    return produced;
}

LoadResult<std::vector<RuntimeFileView>> parse_file_list(std::span<const uint8_t> list) {
    base::ByteView view(list);
    std::vector<RuntimeFileView> files;
    size_t position = 0;
    while (position < list.size()) {
        auto name_end = view.find_zero(position);
        if (!name_end)
            return fail(LoadError::InvalidData);
        std::string_view name(reinterpret_cast<const char*>(list.data()) + position,
                              *name_end - position);
        if (name.size() > kMaxNameLength || !base::is_bare_name(name) ||
            name.starts_with(kReservedPrefix))
            return fail(LoadError::InvalidData);
        auto length = view.u32(*name_end + 1);
        if (!length)
            return fail(LoadError::InvalidData);
        auto content = view.slice(*name_end + 5, *length);
        if (!content)
            return fail(LoadError::InvalidData);
        files.push_back({name, *content});
        position = *name_end + 5 + *length;
    }
    return files;
}

bool is_kernel_library_name(std::string_view name) {
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::string_view kernel : kKernelLibraryNames) {
        if (name.size() != kernel.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = lower(name[i]) == kernel[i];
        if (same)
            return true;
    }
    return false;
}

std::optional<size_t> find_kernel_library(std::span<const RuntimeFileView> files) {
    std::optional<size_t> kernel;
    for (size_t i = 0; i < files.size(); ++i) {
        if (is_kernel_library_name(files[i].name))
            kernel = i;
    }
    return kernel;
}

}  // namespace loader
