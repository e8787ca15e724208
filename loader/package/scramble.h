#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace loader {

// XORs region byte j with key byte ((j + 1) mod 4), byte 0 being the key's
// least significant. Its own inverse. `first_index` is the region index of
// bytes[0], so any slice of the region can be (un)scrambled on its own.
void scramble(std::span<uint8_t> bytes, uint32_t key, size_t first_index = 0);

// The unscrambled value of region byte `index` given its stored value.
inline uint8_t unscramble_byte(uint8_t stored, uint32_t key, size_t index) {
    return static_cast<uint8_t>(stored ^ (key >> (8 * ((index + 1) % 4))));
}

}  // namespace loader
