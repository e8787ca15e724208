#include "loader/package/scramble.h"

#include <bit>
#include <cstring>

namespace loader {

void scramble(std::span<uint8_t> bytes, uint32_t key, size_t first_index) {
    size_t i = 0;
    // Single bytes until the key cycle is back at region index 0 mod 4...
    while (i < bytes.size() && (first_index + i) % 4 != 0) {
        bytes[i] = unscramble_byte(bytes[i], key, first_index + i);
        ++i;
    }
    // ...then whole words: byte 0 of each word takes key byte 1, so the word
    // key is the key rotated right by one byte (little-endian words).
    const uint32_t word_key = (key >> 8) | (key << 24);
    for (; i + 4 <= bytes.size(); i += 4) {
        uint32_t word;
        std::memcpy(&word, bytes.data() + i, 4);
        if constexpr (std::endian::native == std::endian::little) {
            word ^= word_key;
        } else {
            word ^= __builtin_bswap32(word_key);
        }
        std::memcpy(bytes.data() + i, &word, 4);
    }
    for (; i < bytes.size(); ++i)
        bytes[i] = unscramble_byte(bytes[i], key, first_index + i);
}

}  // namespace loader
