// Bounds-checked little-endian reads over a byte span. Every read states
// whether it fit; nothing is read past the end of the span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace base {

inline uint16_t load_le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t load_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t load_le64(const uint8_t* p) {
    return static_cast<uint64_t>(load_le32(p)) | (static_cast<uint64_t>(load_le32(p + 4)) << 32);
}

inline void store_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void store_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void store_le64(uint8_t* p, uint64_t v) {
    store_le32(p, static_cast<uint32_t>(v));
    store_le32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Reads fields at absolute offsets of one span.
class ByteView {
  public:
    ByteView() = default;
    explicit ByteView(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t size() const { return bytes_.size(); }
    std::span<const uint8_t> bytes() const { return bytes_; }

    bool has(size_t offset, size_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    std::optional<uint16_t> u16(size_t offset) const {
        if (!has(offset, 2))
            return std::nullopt;
        return load_le16(bytes_.data() + offset);
    }
    std::optional<uint32_t> u32(size_t offset) const {
        if (!has(offset, 4))
            return std::nullopt;
        return load_le32(bytes_.data() + offset);
    }
    std::optional<uint64_t> u64(size_t offset) const {
        if (!has(offset, 8))
            return std::nullopt;
        return load_le64(bytes_.data() + offset);
    }
    std::optional<std::span<const uint8_t>> slice(size_t offset, size_t length) const {
        if (!has(offset, length))
            return std::nullopt;
        return bytes_.subspan(offset, length);
    }
    // Offset of the first zero byte at or after `offset`, if there is one.
    std::optional<size_t> find_zero(size_t offset) const {
        if (offset >= bytes_.size())
            return std::nullopt;
        const void* hit = std::memchr(bytes_.data() + offset, 0, bytes_.size() - offset);
        if (hit == nullptr)
            return std::nullopt;
        return static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes_.data());
    }

  private:
    std::span<const uint8_t> bytes_;
};

}  // namespace base
