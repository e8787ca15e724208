// Drawing without a screen: the device contexts, rounded regions and
// gradient fills that programs ask of the system's GDI, kept per unit. Each
// unit that is drawn on gets a surface of its size (colours as the system
// gives them, 0x00BBGGRR) and the region that shapes it; what a person
// would see of it becomes a transcript line:
//
//   unit-region 画板1 round 0 0 295 18 5 5    left top right bottom, corner
//                                              ellipse width and height
//   unit-region 画板1 none                      the region was taken away
//   unit-gradient 画板1 0 0 147 9 vertical #E7F3E8 #E1DBE1
//                                              left top width height, the
//                                              direction, start and end colour
//
// Handles: windows and units by the backend's handles (ui/unit_handle.h);
// device contexts and regions are handed out here, each kind in its own
// range. Device context 0 on window 0 stands for the screen: it takes fills
// and shows nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kernel::drawing {

// A unit as drawing sees it.
struct UnitView {
    std::string name;  // UTF-8, for transcript lines
    int32_t width = 0;
    int32_t height = 0;
    bool shown = false;  // its window is open
};

// The system's records, as programs pass them.
struct Vertex {  // TRIVERTEX
    int32_t x;   // position
    int32_t y;
    uint16_t red;  // colour channels, value × 256
    uint16_t green;
    uint16_t blue;
    uint16_t alpha;  // unused by rectangle fills
};
struct GradientRect {      // GRADIENT_RECT
    uint32_t upper_left;   // index of the vertex at the upper left corner
    uint32_t lower_right;  // index of the vertex at the lower right corner
};
inline constexpr uint32_t kGradientHorizontal = 0;  // GRADIENT_FILL_RECT_H
inline constexpr uint32_t kGradientVertical = 1;    // GRADIENT_FILL_RECT_V

struct RoundRegion {
    int32_t left, top, right, bottom;
    int32_t corner_width, corner_height;
    bool contains(int32_t x, int32_t y) const;
};

struct Surface {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;  // row by row, 0x00BBGGRR
    std::optional<RoundRegion> region;
    uint32_t pixel(int32_t x, int32_t y) const {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

class Drawing {
  public:
    using Lookup = std::function<std::optional<UnitView>(int64_t window)>;
    using Sink = std::function<void(const std::string& line)>;
    Drawing(Lookup lookup, Sink sink) : lookup_(std::move(lookup)), sink_(std::move(sink)) {}

    // GetDC: a device context for the unit's surface; 0 when the handle
    // names no unit.
    int64_t get_dc(int64_t window);
    // ReleaseDC: 1 when `dc` was taken for `window`, else 0.
    int32_t release_dc(int64_t window, int64_t dc);
    // CreateRoundRectRgn.
    int64_t create_round_rect_region(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                     int32_t corner_width, int32_t corner_height);
    // SetWindowRgn: the unit takes over the region (0: none); nonzero on
    // success. A region once given belongs to its unit and cannot be given
    // again.
    int32_t set_window_region(int64_t window, int64_t region);
    // GradientFill of rectangles: false for another mode, a vertex index out
    // of range or an unknown device context.
    bool gradient_fill(int64_t dc, std::span<const Vertex> vertices,
                       std::span<const GradientRect> rectangles, uint32_t mode);

    // The unit's surface, null when nothing was drawn on it.
    const Surface* surface(int64_t window) const;

  private:
    Surface& surface_of(int64_t window, const UnitView& view);

    Lookup lookup_;
    Sink sink_;
    std::map<int64_t, Surface> surfaces_;  // by window handle
    std::map<int64_t, int64_t> dcs_;       // device context -> window handle
    std::map<int64_t, RoundRegion> regions_;
    int64_t next_dc_ = kDcBase;
    int64_t next_region_ = kRegionBase;
    static constexpr int64_t kDcBase = 0x41000000;
    static constexpr int64_t kRegionBase = 0x42000000;
};

}  // namespace kernel::drawing
