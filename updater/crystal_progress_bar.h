// The crystal-look progress bar: a rounded, glossy bar on a drawing board of
// a window, its filled and empty parts each painted as two stacked
// two-colour gradients, with a text on top.
//
// The bar paints on a drawing canvas of its own, a copy of the host canvas
// made one pixel inside it; both canvases are clipped to a rounded
// rectangle. Gradients go through the system's GradientFill on a device
// context taken for each fill; the text is drawn in the bar's font, measured
// in it to be placed.
//
// Every setter takes (value, set): without `set` it only gives the value in
// force; with it the value is stored, clamped where the rules say so, the
// bar redrawn, and the value now in force given back.
//
// The windows and the system's drawing functions are reached through a
// BarPlatform, so that the bar's rules can be followed without a screen.
#pragma once

#include <stdint.h>

namespace updater {

// A font as the bar keeps it.
struct BarFont {
    int32_t angle = 0;  // tenths of a degree
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike_out = false;
    int32_t size = 9;  // points
    char face[32] = "宋体";
};

// TRIVERTEX and GRADIENT_RECT, as GradientFill takes them.
struct BarVertex {
    int32_t x;
    int32_t y;
    uint16_t red;  // value × 256
    uint16_t green;
    uint16_t blue;
    uint16_t alpha;
};
struct BarGradientRect {
    uint32_t upper_left;
    uint32_t lower_right;
};
inline constexpr uint32_t kGradientLeftToRight = 0;  // GRADIENT_FILL_RECT_H
inline constexpr uint32_t kGradientTopToBottom = 1;  // GRADIENT_FILL_RECT_V

// What the bar needs of the windows and the system. Units are named by their
// window's and their own identifiers; handles are the system's.
struct BarPlatform {
    // ---- the windows ----
    void (*size_of)(uint32_t window, uint32_t unit, int32_t* width, int32_t* height);
    // A copy of the canvas held by it; gives the copy's identifier.
    uint32_t (*copy_inside)(uint32_t window, uint32_t canvas);
    void (*place)(uint32_t window, uint32_t unit, int32_t left, int32_t top, int32_t width,
                  int32_t height);
    void (*show)(uint32_t window, uint32_t unit);
    intptr_t (*handle_of)(uint32_t window, uint32_t unit);
    void (*font_of)(uint32_t window, uint32_t unit, BarFont* font);
    void (*set_font)(uint32_t window, uint32_t unit, const BarFont& font);
    void (*set_back_colour)(uint32_t window, uint32_t unit, uint32_t colour);
    void (*draw_text)(uint32_t window, uint32_t unit, int32_t x, int32_t y, uint32_t colour,
                      const char* text);
    void (*measure_text)(const BarFont& font, const char* text, int32_t* width, int32_t* height);
    // ---- the system's functions ----
    intptr_t (*get_dc)(intptr_t hwnd);
    intptr_t (*release_dc)(intptr_t hwnd, intptr_t dc);
    intptr_t (*create_round_rect_region)(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                         int32_t corner_width, int32_t corner_height);
    intptr_t (*set_window_region)(intptr_t hwnd, intptr_t region, bool redraw);
    intptr_t (*gradient_fill)(intptr_t dc, const BarVertex* vertices, uint32_t vertex_count,
                              const BarGradientRect* rectangles, uint32_t rectangle_count,
                              uint32_t mode);
};

class CrystalProgressBar {
  public:
    // The colour table's places.
    enum Colour {
        kEmptyTopStart,
        kEmptyTopEnd,
        kEmptyBottomStart,
        kEmptyBottomEnd,
        kFilledTopStart,
        kFilledTopEnd,
        kFilledBottomStart,
        kFilledBottomEnd,
        kBackground,
        kColourCount
    };

    explicit CrystalProgressBar(const BarPlatform& platform) : platform_(platform) {}
    ~CrystalProgressBar();
    CrystalProgressBar(const CrystalProgressBar&) = default;
    CrystalProgressBar& operator=(const CrystalProgressBar&) = delete;

    // Makes the bar on `canvas` of `window`: the drawing canvas (made once
    // per host canvas and kept when the bar is attached to it again), the
    // rounded regions, scheme 8, and every value as it starts.
    void Attach(uint32_t window, uint32_t canvas);

    int32_t SetPosition(int32_t value, bool set = true);
    int32_t SetMaximum(int32_t value, bool set = true);
    int32_t SetMinimum(int32_t value, bool set = true);
    int32_t SetCornerRadius(int32_t value, bool set = true);
    int32_t SetEnabled(int32_t value, bool set = true);
    int32_t SetScheme(int32_t value, bool set = true);
    // 1 the position, 2 the percentage, 3 the caption.
    int32_t SetTextMode(int32_t value, bool set = true);
    // 1 fills left to right, 2 top to bottom.
    int32_t SetOrientation(int32_t value, bool set = true);
    // 1..9: the text's place in a 3 x 3 grid, column by column from the left.
    int32_t SetTextAlignment(int32_t value, bool set = true);
    const char* SetCaption(const char* value, bool set = true);
    uint32_t SetEffectColour(uint32_t value, bool set = true);
    // 1..5: how the text is doubled for its look.
    int32_t SetTextEffect(int32_t value, bool set = true);
    uint32_t SetTextColour(uint32_t value, bool set = true);
    const BarFont& SetFont(const BarFont& value, bool set = true);
    uint32_t SetFillColour(uint32_t value, bool set = true);
    uint32_t SetTrackColour(uint32_t value, bool set = true);

    void Draw();

    // ---- the parts of drawing, for those who follow the rules ----
    // The colour table of the scheme from the fill and track colours; false
    // (the table as it was) for an unlisted scheme.
    bool ComputeColours();
    // Each of red, green and blue plus `amount`, at most 255.
    static uint32_t LightenColour(uint32_t colour, int32_t amount);
    // The grey of the colour's mean channel.
    static uint32_t GreyColour(uint32_t colour);
    // A channel (0..255) as GradientFill takes it.
    static uint16_t Channel16(uint32_t channel) { return static_cast<uint16_t>(channel << 8); }
    static void PackVertices(BarVertex vertices[2], int32_t left, int32_t top, int32_t right,
                             int32_t bottom, uint32_t from, uint32_t to);
    void PaintGradient(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t from,
                       uint32_t to, uint32_t mode);
    // The text of the text mode into `out` (empty: none).
    void BarText(char* out, uint32_t size) const;
    // Where the text's top left corner goes; false for an unlisted alignment,
    // which puts it at (0, 0).
    bool TextPlace(int32_t text_width, int32_t text_height, int32_t* x, int32_t* y) const;
    void DrawText();

    uint32_t colour(int32_t which) const { return colours_[which]; }
    uint32_t drawing_canvas() const { return drawing_canvas_; }
    int32_t drawing_width() const { return drawing_width_; }
    int32_t drawing_height() const { return drawing_height_; }
    int32_t minimum() const { return minimum_; }
    int32_t maximum() const { return maximum_; }
    int32_t position() const { return position_; }

  private:
    void ApplyCornerRadius();
    void ApplyColours(bool grey);

    const BarPlatform& platform_;
    // Fields in the order of the bar's record.
    intptr_t device_context_ = 0;
    BarFont font_;
    int32_t enabled_ = 1;
    char caption_[128] = "";
    uint32_t text_colour_ = 0;
    uint32_t effect_colour_ = 0xFFFFFF;
    int32_t corner_size_ = 5;
    int32_t minimum_ = 0;
    int32_t position_ = 50;
    int32_t maximum_ = 100;
    uint32_t colours_[kColourCount] = {};
    uint32_t fill_colour_ = 0xFF0000;
    uint32_t track_colour_ = 0;
    uint32_t drawing_canvas_ = 0;
    int32_t scheme_ = 8;
    int32_t text_mode_ = 1;
    int32_t orientation_ = 1;
    int32_t text_alignment_ = 5;
    int32_t text_effect_ = 5;
    intptr_t drawing_handle_ = 0;
    uint32_t host_canvas_ = 0;
    // Where the bar lives, and the sizes it paints on.
    uint32_t window_ = 0;
    int32_t host_width_ = 0;
    int32_t host_height_ = 0;
    int32_t drawing_width_ = 0;
    int32_t drawing_height_ = 0;
};

}  // namespace updater
