// The handles that the headless backend gives for windows and units
// (RT_PROPERTY_HANDLE), standing in for a system's window handles: the
// window's number (the low 16 bits of its identifier) plus one, and the
// unit's position in its window (0 the window's own record). The same unit
// always has the same handle, never 0; the runtime's own drawing functions
// map a handle back to its unit.
#pragma once

#include <cstdint>
#include <optional>

namespace kernel::ui {

struct UnitPlace {
    uint32_t window = 0;  // the window's identifier (class 0x52)
    uint32_t index = 0;   // the unit's position in the window, 0 its own record
};

inline constexpr uint32_t kWindowIdBase = 0x52010000u;

// 0 when the window number or the position is too large for a handle.
inline int64_t unit_handle(uint32_t window, uint32_t index) {
    const uint32_t number = (window & 0xFFFFu) + 1;
    if (number >= 0x8000u || index > 0xFFFFu || (window & 0xFFFF0000u) != kWindowIdBase)
        return 0;
    return static_cast<int64_t>(number << 16 | index);
}

inline std::optional<UnitPlace> unit_place(int64_t handle) {
    if (handle <= 0xFFFF || handle >= 0x80000000LL)
        return std::nullopt;
    const uint32_t value = static_cast<uint32_t>(handle);
    return UnitPlace{kWindowIdBase | ((value >> 16) - 1), value & 0xFFFFu};
}

}  // namespace kernel::ui
