#include "loader/stub/warm_stamp.h"

#include <charconv>
#include <cstdio>
#include <string_view>

#include "base/byte_reader.h"
#include "loader/package/format.h"
#include "loader/package/scramble.h"

namespace loader {

PackageIdentity identify_package(std::span<const uint8_t> package, const PackageHeader& header) {
    PackageIdentity identity;
    identity.package_length = static_cast<uint32_t>(package.size());
    identity.folder_number = header.folder_number;
    identity.scramble_key = header.scramble_key;
    identity.unpacked_size = header.unpacked_size;
    if (package.size() >= header.stream_offset + 4) {
        uint8_t tail[4];
        size_t at = package.size() - 4;
        for (size_t i = 0; i < 4; ++i)
            tail[i] =
                unscramble_byte(package[at + i], header.scramble_key, at + i - kScrambledFrom);
        identity.list_check = base::load_le32(tail);
    }
    return identity;
}

std::string stamp_file_name(const PackageIdentity& identity) {
    // FNV-1a over the identity's fields.
    uint64_t hash = 0xcbf29ce484222325ull;
    for (uint32_t field : {identity.package_length, identity.folder_number, identity.scramble_key,
                           identity.unpacked_size, identity.list_check}) {
        for (int i = 0; i < 4; ++i) {
            hash ^= (field >> (8 * i)) & 0xFF;
            hash *= 0x100000001b3ull;
        }
    }
    char name[32];
    std::snprintf(name, sizeof name, "%.*sstamp-%016llX", static_cast<int>(kReservedPrefix.size()),
                  kReservedPrefix.data(), static_cast<unsigned long long>(hash));
    return name;
}

namespace {

std::string identity_line(const PackageIdentity& identity) {
    char line[128];
    std::snprintf(line, sizeof line, "package %u %u %u %u %u\n", identity.package_length,
                  identity.folder_number, identity.scramble_key, identity.unpacked_size,
                  identity.list_check);
    return line;
}

// Splits the next space- or newline-separated field off `text`.
std::string_view next_field(std::string_view& text) {
    size_t end = text.find_first_of(" \n");
    std::string_view field = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return field;
}

std::optional<uint64_t> parse_number(std::string_view field) {
    uint64_t value = 0;
    auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size() || field.empty())
        return std::nullopt;
    return value;
}

std::optional<std::string> parse_hex_name(std::string_view field) {
    if (field.empty() || field.size() % 2 != 0 || field.size() / 2 > kMaxNameLength)
        return std::nullopt;
    std::string name;
    for (size_t i = 0; i < field.size(); i += 2) {
        unsigned value = 0;
        auto [end, error] = std::from_chars(field.data() + i, field.data() + i + 2, value, 16);
        if (error != std::errc() || end != field.data() + i + 2)
            return std::nullopt;
        name.push_back(static_cast<char>(value));
    }
    return name;
}

}  // namespace

std::vector<uint8_t> encode_stamp(const PackageIdentity& identity,
                                  std::span<const StampedFile> files) {
    std::string text = identity_line(identity);
    for (const StampedFile& file : files) {
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, "%llu %llu %llu ",
                      static_cast<unsigned long long>(file.identity.size),
                      static_cast<unsigned long long>(file.identity.modified),
                      static_cast<unsigned long long>(file.identity.file_id));
        text += numbers;
        for (unsigned char c : file.name) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", c);
            text += hex;
        }
        text += '\n';
    }
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::optional<std::vector<StampedFile>> decode_stamp(std::span<const uint8_t> stamp,
                                                     const PackageIdentity& identity) {
    std::string_view text(reinterpret_cast<const char*>(stamp.data()), stamp.size());
    const std::string expected = identity_line(identity);
    if (!text.starts_with(expected))
        return std::nullopt;
    text.remove_prefix(expected.size());
    if (!text.empty() && text.back() != '\n')
        return std::nullopt;  // cut short
    std::vector<StampedFile> files;
    while (!text.empty()) {
        auto size = parse_number(next_field(text));
        auto modified = parse_number(next_field(text));
        auto file_id = parse_number(next_field(text));
        auto name = parse_hex_name(next_field(text));
        if (!size || !modified || !file_id || !name)
            return std::nullopt;
        files.push_back({*name, {*size, *modified, *file_id}});
    }
    if (files.empty())
        return std::nullopt;
    return files;
}

}  // namespace loader
