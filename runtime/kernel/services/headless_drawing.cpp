#include "runtime/kernel/services/headless_drawing.h"

#include <algorithm>
#include <cstdio>

namespace kernel::drawing {

namespace {

// Surfaces larger than this on either side are not kept (a unit that large
// is a fault of its program, not something to allocate).
constexpr int32_t kMaxSide = 16384;

uint8_t channel(uint16_t value) {
    return static_cast<uint8_t>(value >> 8);
}

uint32_t colour(const Vertex& v) {
    return static_cast<uint32_t>(channel(v.red)) | static_cast<uint32_t>(channel(v.green)) << 8 |
           static_cast<uint32_t>(channel(v.blue)) << 16;
}

std::string colour_text(const Vertex& v) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", channel(v.red), channel(v.green),
                  channel(v.blue));
    return text;
}

uint8_t blend(uint8_t from, uint8_t to, int64_t at, int64_t length) {
    return static_cast<uint8_t>(from + (static_cast<int64_t>(to) - from) * at / length);
}

uint32_t between(const Vertex& from, const Vertex& to, int64_t at, int64_t length) {
    return static_cast<uint32_t>(blend(channel(from.red), channel(to.red), at, length)) |
           static_cast<uint32_t>(blend(channel(from.green), channel(to.green), at, length)) << 8 |
           static_cast<uint32_t>(blend(channel(from.blue), channel(to.blue), at, length)) << 16;
}

}  // namespace

bool RoundRegion::contains(int32_t x, int32_t y) const {
    if (x < left || x >= right || y < top || y >= bottom)
        return false;
    // Inside one of the corner ellipses' quarters, the point must lie inside
    // the ellipse (measured at pixel centres, in doubled coordinates).
    const int64_t rx = std::min<int64_t>(corner_width, right - left);
    const int64_t ry = std::min<int64_t>(corner_height, bottom - top);
    if (rx <= 1 || ry <= 1)
        return true;
    const int64_t px = 2 * static_cast<int64_t>(x) + 1;
    const int64_t py = 2 * static_cast<int64_t>(y) + 1;
    const int64_t cx = px < 2 * left + rx    ? 2 * left + rx
                       : px > 2 * right - rx ? 2 * right - rx
                                             : px;
    const int64_t cy = py < 2 * top + ry      ? 2 * top + ry
                       : py > 2 * bottom - ry ? 2 * bottom - ry
                                              : py;
    const int64_t dx = px - cx;
    const int64_t dy = py - cy;
    // (dx / rx)^2 + (dy / ry)^2 <= 1
    return dx * dx * ry * ry + dy * dy * rx * rx <= rx * rx * ry * ry;
}

Surface& Drawing::surface_of(int64_t window, const UnitView& view) {
    Surface& surface = surfaces_[window];
    const int32_t width = std::clamp(view.width, 0, kMaxSide);
    const int32_t height = std::clamp(view.height, 0, kMaxSide);
    if (surface.width != width || surface.height != height) {
        surface.width = width;
        surface.height = height;
        surface.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0xFFFFFF);
    }
    return surface;
}

int64_t Drawing::get_dc(int64_t window) {
    if (window != 0) {
        auto view = lookup_(window);
        if (!view)
            return 0;
        surface_of(window, *view);
    }
    const int64_t dc = next_dc_++;
    dcs_[dc] = window;
    return dc;
}

int32_t Drawing::release_dc(int64_t window, int64_t dc) {
    auto found = dcs_.find(dc);
    if (found == dcs_.end() || found->second != window)
        return 0;
    dcs_.erase(found);
    return 1;
}

int64_t Drawing::create_round_rect_region(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                          int32_t corner_width, int32_t corner_height) {
    // The system orders the corners.
    RoundRegion region{std::min(left, right),     std::min(top, bottom),
                       std::max(left, right),     std::max(top, bottom),
                       std::max(corner_width, 0), std::max(corner_height, 0)};
    const int64_t handle = next_region_++;
    regions_[handle] = region;
    return handle;
}

int32_t Drawing::set_window_region(int64_t window, int64_t region) {
    auto view = lookup_(window);
    if (!view)
        return 0;
    std::optional<RoundRegion> taken;
    if (region != 0) {
        auto found = regions_.find(region);
        if (found == regions_.end())
            return 0;
        taken = found->second;
        regions_.erase(found);
    }
    Surface& surface = surface_of(window, *view);
    surface.region = taken;
    if (view->shown) {
        if (taken)
            sink_("unit-region " + view->name + " round " + std::to_string(taken->left) + " " +
                  std::to_string(taken->top) + " " + std::to_string(taken->right) + " " +
                  std::to_string(taken->bottom) + " " + std::to_string(taken->corner_width) + " " +
                  std::to_string(taken->corner_height));
        else
            sink_("unit-region " + view->name + " none");
    }
    return 1;
}

bool Drawing::gradient_fill(int64_t dc, std::span<const Vertex> vertices,
                            std::span<const GradientRect> rectangles, uint32_t mode) {
    auto found = dcs_.find(dc);
    if (found == dcs_.end() || (mode != kGradientHorizontal && mode != kGradientVertical))
        return false;
    for (const GradientRect& r : rectangles) {
        if (r.upper_left >= vertices.size() || r.lower_right >= vertices.size())
            return false;
    }
    const int64_t window = found->second;
    if (window == 0)
        return true;  // the screen: nothing that is kept
    auto view = lookup_(window);
    if (!view)
        return false;
    Surface& surface = surface_of(window, *view);
    const bool vertical = mode == kGradientVertical;
    for (const GradientRect& r : rectangles) {
        // The colours run from the upper left vertex to the lower right one.
        const Vertex& a = vertices[r.upper_left];
        const Vertex& b = vertices[r.lower_right];
        const int32_t left = std::min(a.x, b.x), right = std::max(a.x, b.x);
        const int32_t top = std::min(a.y, b.y), bottom = std::max(a.y, b.y);
        const Vertex& from = (vertical ? a.y <= b.y : a.x <= b.x) ? a : b;
        const Vertex& to = &from == &a ? b : a;
        const int64_t length = vertical ? bottom - top : right - left;
        // A progress bar fills at every report, so rows are filled as spans:
        // a rounded region is convex, so what it holds of a row is one run,
        // found from both ends; a vertical gradient has one colour a row.
        for (int32_t y = std::max(top, 0); y < std::min(bottom, surface.height); ++y) {
            int32_t x0 = std::max(left, 0), x1 = std::min(right, surface.width);
            if (surface.region) {
                while (x0 < x1 && !surface.region->contains(x0, y))
                    ++x0;
                while (x1 > x0 && !surface.region->contains(x1 - 1, y))
                    --x1;
            }
            uint32_t* row =
                surface.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(surface.width);
            if (vertical) {
                std::fill(row + x0, row + x1,
                          length > 0 ? between(from, to, y - top, length) : colour(from));
                continue;
            }
            for (int32_t x = x0; x < x1; ++x)
                row[x] = length > 0 ? between(from, to, x - left, length) : colour(from);
        }
        if (view->shown && right > left && bottom > top)
            sink_("unit-gradient " + view->name + " " + std::to_string(left) + " " +
                  std::to_string(top) + " " + std::to_string(right - left) + " " +
                  std::to_string(bottom - top) + (vertical ? " vertical " : " horizontal ") +
                  colour_text(from) + " " + colour_text(to));
    }
    return true;
}

const Surface* Drawing::surface(int64_t window) const {
    auto found = surfaces_.find(window);
    return found != surfaces_.end() ? &found->second : nullptr;
}

}  // namespace kernel::drawing
