#include "updater/crystal_progress_bar.h"

namespace updater {

namespace {

// #RRGGBB as written in the schemes, into the system's 0x00BBGGRR.
constexpr uint32_t rgb(uint32_t value) {
    return (value >> 16 & 0xFF) | (value & 0xFF00) | (value & 0xFF) << 16;
}

// Schemes 1 to 9, in the order of the colour table.
constexpr uint32_t kSchemes[9][CrystalProgressBar::kColourCount] = {
    {rgb(0xF8F6F2), rgb(0xE9E3D3), rgb(0xE2D7B6), rgb(0xEFE9D7), rgb(0xFBF4DF), rgb(0xEFD585),
     rgb(0xCBA639), rgb(0xEDE0BB), rgb(0xCCA83E)},
    {rgb(0xF7F8F2), rgb(0xE7E9D3), rgb(0xDEE2B6), rgb(0xEDEFD7), rgb(0xF9FBDF), rgb(0xE6EF85),
     rgb(0xBECB39), rgb(0xE9EDBB), rgb(0xC0CC3E)},
    {rgb(0xF2F8F3), rgb(0xD3E9D5), rgb(0xB6E2BA), rgb(0xD7EFD9), rgb(0xDFFBE1), rgb(0x85EF8E),
     rgb(0x39CB46), rgb(0xBBEDBF), rgb(0x3ECC4A)},
    {rgb(0xF2F8F7), rgb(0xD3E9E7), rgb(0xB6E2DE), rgb(0xD7EFED), rgb(0xDFFBF9), rgb(0x85EFE6),
     rgb(0x39CBBE), rgb(0xBBEDE9), rgb(0x3ECCC0)},
    {rgb(0xF3F2F8), rgb(0xD5D3E9), rgb(0xBAB6E2), rgb(0xD9D7EF), rgb(0xE1DFFB), rgb(0x8E85EF),
     rgb(0x4639CB), rgb(0xBFBBED), rgb(0x4A3ECC)},
    {rgb(0xF8F2F7), rgb(0xE9D3E7), rgb(0xE2B6DE), rgb(0xEFD7ED), rgb(0xFBDFF9), rgb(0xEF85E6),
     rgb(0xCB39BE), rgb(0xEDBBE9), rgb(0xCC3EC0)},
    {rgb(0xF8F2F2), rgb(0xE9D3D3), rgb(0xE2B6B6), rgb(0xEFD7D7), rgb(0xFBDFDF), rgb(0xEF8585),
     rgb(0xCB3939), rgb(0xEDBBBB), rgb(0xCC3E3E)},
    {rgb(0xFAFDFE), rgb(0xE4F3FC), rgb(0xC7E6F9), rgb(0xEDF7FD), rgb(0xE1F7FF), rgb(0x43D0FF),
     rgb(0x3F70E9), rgb(0x3FE2F6), rgb(0x178BD3)},
    {rgb(0xE7F3E8), rgb(0xE1DBE1), rgb(0xB3BDB3), rgb(0xE2EEE2), rgb(0xDFFBDF), rgb(0x6CFF6C),
     rgb(0x1AE41A), rgb(0xD9F4D9), rgb(0xBCB8BC)},
};

constexpr uint32_t kShadowGrey = 0x808080;

// Copies a GBK text into `out` of `size` bytes, never ending inside a
// double-byte character.
void copy_text(char* out, uint32_t size, const char* text) {
    uint32_t at = 0;
    while (text != nullptr && text[at] != '\0' && at + 1 < size) {
        const auto lead = static_cast<uint8_t>(text[at]);
        if (lead >= 0x81 && lead <= 0xFE) {
            if (text[at + 1] == '\0' || at + 2 >= size)
                break;
            out[at] = text[at];
            out[at + 1] = text[at + 1];
            at += 2;
            continue;
        }
        out[at] = text[at];
        ++at;
    }
    out[at] = '\0';
}

// The decimal digits of `value` at `out`; gives the position after them.
// (32-bit arithmetic only: a 64-bit division is a library call on i386.)
char* write_decimal(char* out, int32_t value) {
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (value < 0) {
        *out++ = '-';
        magnitude = 0u - magnitude;
    }
    char digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

// trunc(a × b / c) for c > 0 and a, b ≥ 0, in doubles: exact for the
// bar's numbers (the product fits 53 bits, the quotient is far from the
// next whole number by more than the rounding).
int32_t scaled(int32_t a, int32_t b, int32_t c) {
    return static_cast<int32_t>(static_cast<double>(a) * static_cast<double>(b) /
                                static_cast<double>(c));
}

}  // namespace

CrystalProgressBar::~CrystalProgressBar() {
    if (device_context_ != 0 && platform_.release_dc != nullptr)
        platform_.release_dc(drawing_handle_, device_context_);
}

void CrystalProgressBar::Attach(uint32_t window, uint32_t canvas) {
    platform_.size_of(window, canvas, &host_width_, &host_height_);
    // Attached to the same canvas again, the bar keeps its drawing canvas.
    if (drawing_canvas_ == 0 || window != window_ || canvas != host_canvas_)
        drawing_canvas_ = platform_.copy_inside(window, canvas);
    window_ = window;
    host_canvas_ = canvas;
    drawing_width_ = host_width_ - 2;
    drawing_height_ = host_height_ - 2;
    platform_.place(window, drawing_canvas_, 1, 1, drawing_width_, drawing_height_);
    platform_.show(window, drawing_canvas_);
    drawing_handle_ = platform_.handle_of(window, drawing_canvas_);
    platform_.font_of(window, drawing_canvas_, &font_);

    copy_text(caption_, sizeof caption_, "水晶进度条-");
    text_colour_ = 0;
    effect_colour_ = 0xFFFFFF;
    minimum_ = 0;
    position_ = 50;
    maximum_ = 100;
    enabled_ = 1;
    fill_colour_ = 0xFF0000;
    track_colour_ = 0;
    text_alignment_ = 5;
    text_effect_ = 5;
    text_mode_ = 1;
    orientation_ = 1;
    SetCornerRadius(5);
    SetScheme(8);
}

// ---- setters ----

int32_t CrystalProgressBar::SetPosition(int32_t value, bool set) {
    if (!set)
        return position_;
    position_ = value;
    if (position_ > maximum_)
        position_ = maximum_;
    if (position_ < minimum_)
        position_ = minimum_;
    Draw();
    return position_;
}

int32_t CrystalProgressBar::SetMaximum(int32_t value, bool set) {
    if (!set)
        return maximum_;
    maximum_ = value < 1 ? 1 : value;
    if (maximum_ <= minimum_)
        maximum_ = minimum_ + 1;
    if (position_ > maximum_)
        position_ = maximum_;
    Draw();
    return maximum_;
}

int32_t CrystalProgressBar::SetMinimum(int32_t value, bool set) {
    if (!set)
        return minimum_;
    minimum_ = value;
    if (minimum_ >= maximum_)
        minimum_ = maximum_ - 1;
    if (minimum_ < 0)
        minimum_ = 0;
    if (position_ < minimum_)
        position_ = minimum_;
    Draw();
    return minimum_;
}

int32_t CrystalProgressBar::SetCornerRadius(int32_t value, bool set) {
    if (!set)
        return corner_size_;
    corner_size_ = value;
    ApplyCornerRadius();
    Draw();
    return corner_size_;
}

void CrystalProgressBar::ApplyCornerRadius() {
    if (drawing_canvas_ == 0)
        return;
    // Each canvas its own region: a region given to a window is the
    // window's from then on.
    const intptr_t host = platform_.handle_of(window_, host_canvas_);
    platform_.set_window_region(host,
                                platform_.create_round_rect_region(0, 0, host_width_, host_height_,
                                                                   corner_size_, corner_size_),
                                true);
    platform_.set_window_region(
        drawing_handle_,
        platform_.create_round_rect_region(0, 0, drawing_width_, drawing_height_, corner_size_,
                                           corner_size_),
        true);
}

int32_t CrystalProgressBar::SetEnabled(int32_t value, bool set) {
    if (!set)
        return enabled_;
    enabled_ = value;
    ApplyColours(true);
    return enabled_;
}

int32_t CrystalProgressBar::SetScheme(int32_t value, bool set) {
    if (!set)
        return scheme_;
    scheme_ = value;
    ApplyColours(true);
    return scheme_;
}

uint32_t CrystalProgressBar::SetFillColour(uint32_t value, bool set) {
    if (!set)
        return fill_colour_;
    fill_colour_ = value;
    ApplyColours(false);
    return fill_colour_;
}

uint32_t CrystalProgressBar::SetTrackColour(uint32_t value, bool set) {
    if (!set)
        return track_colour_;
    track_colour_ = value;
    ApplyColours(false);
    return track_colour_;
}

void CrystalProgressBar::ApplyColours(bool grey) {
    ComputeColours();
    if (grey && enabled_ == 0) {
        for (uint32_t& c : colours_)
            c = GreyColour(c);
    }
    if (drawing_canvas_ != 0) {
        platform_.set_back_colour(window_, host_canvas_, colours_[kBackground]);
        platform_.set_back_colour(window_, drawing_canvas_, colours_[kBackground]);
    }
    Draw();
}

int32_t CrystalProgressBar::SetTextMode(int32_t value, bool set) {
    if (set) {
        text_mode_ = value;
        Draw();
    }
    return text_mode_;
}

int32_t CrystalProgressBar::SetOrientation(int32_t value, bool set) {
    if (set) {
        orientation_ = value;
        Draw();
    }
    return orientation_;
}

int32_t CrystalProgressBar::SetTextAlignment(int32_t value, bool set) {
    if (set) {
        text_alignment_ = value;
        Draw();
    }
    return text_alignment_;
}

const char* CrystalProgressBar::SetCaption(const char* value, bool set) {
    if (set) {
        copy_text(caption_, sizeof caption_, value);
        Draw();
    }
    return caption_;
}

uint32_t CrystalProgressBar::SetEffectColour(uint32_t value, bool set) {
    if (set) {
        effect_colour_ = value;
        Draw();
    }
    return effect_colour_;
}

int32_t CrystalProgressBar::SetTextEffect(int32_t value, bool set) {
    if (set) {
        text_effect_ = value;
        Draw();
    }
    return text_effect_;
}

uint32_t CrystalProgressBar::SetTextColour(uint32_t value, bool set) {
    if (set) {
        text_colour_ = value;
        Draw();
    }
    return text_colour_;
}

const BarFont& CrystalProgressBar::SetFont(const BarFont& value, bool set) {
    if (set) {
        font_ = value;
        font_.face[sizeof font_.face - 1] = '\0';
        if (drawing_canvas_ != 0)
            platform_.set_font(window_, drawing_canvas_, font_);
        Draw();
    }
    return font_;
}

// ---- colours ----

bool CrystalProgressBar::ComputeColours() {
    if (scheme_ >= 1 && scheme_ <= 9) {
        for (int i = 0; i < kColourCount; ++i)
            colours_[i] = kSchemes[scheme_ - 1][i];
        return true;
    }
    if (scheme_ != 10)
        return false;
    const uint32_t t = track_colour_, f = fill_colour_;
    colours_[kEmptyTopStart] = LightenColour(t, 180);
    colours_[kEmptyTopEnd] = LightenColour(t, 50);
    colours_[kEmptyBottomStart] = t;
    colours_[kEmptyBottomEnd] = LightenColour(t, 80);
    colours_[kFilledTopStart] = LightenColour(f, 180);
    colours_[kFilledTopEnd] = LightenColour(f, 50);
    colours_[kFilledBottomStart] = f;
    colours_[kFilledBottomEnd] = LightenColour(f, 80);
    colours_[kBackground] = f;
    return true;
}

uint32_t CrystalProgressBar::LightenColour(uint32_t colour, int32_t amount) {
    uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        int32_t channel = static_cast<int32_t>(colour >> shift & 0xFF) + amount;
        channel = channel > 255 ? 255 : channel < 0 ? 0 : channel;
        result |= static_cast<uint32_t>(channel) << shift;
    }
    return result;
}

uint32_t CrystalProgressBar::GreyColour(uint32_t colour) {
    const uint32_t mean = ((colour & 0xFF) + (colour >> 8 & 0xFF) + (colour >> 16 & 0xFF)) / 3;
    return mean | mean << 8 | mean << 16;
}

// ---- drawing ----

void CrystalProgressBar::PackVertices(BarVertex vertices[2], int32_t left, int32_t top,
                                      int32_t right, int32_t bottom, uint32_t from, uint32_t to) {
    vertices[0] = {left,
                   top,
                   Channel16(from & 0xFF),
                   Channel16(from >> 8 & 0xFF),
                   Channel16(from >> 16 & 0xFF),
                   0};
    vertices[1] = {
        right, bottom, Channel16(to & 0xFF), Channel16(to >> 8 & 0xFF), Channel16(to >> 16 & 0xFF),
        0};
}

void CrystalProgressBar::PaintGradient(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                       uint32_t from, uint32_t to, uint32_t mode) {
    BarVertex vertices[2];
    PackVertices(vertices, left, top, right, bottom, from, to);
    const BarGradientRect mesh = {0, 1};
    // A device context for this one fill.
    device_context_ = platform_.get_dc(drawing_handle_);
    platform_.gradient_fill(device_context_, vertices, 2, &mesh, 1, mode);
    platform_.release_dc(drawing_handle_, device_context_);
    device_context_ = 0;
}

void CrystalProgressBar::Draw() {
    if (drawing_canvas_ == 0)
        return;
    const int32_t w = drawing_width_, h = drawing_height_;
    // position × 100 / maximum percent of the extent, truncated; the
    // minimum does not count.
    const int32_t filled =
        scaled(position_ < 0 ? 0 : position_, orientation_ == 2 ? h : w, maximum_);
    const uint32_t* c = colours_;
    if (orientation_ == 1) {
        PaintGradient(filled, 0, w, h / 2, c[kEmptyTopStart], c[kEmptyTopEnd],
                      kGradientTopToBottom);
        PaintGradient(filled, h / 2, w, h, c[kEmptyBottomStart], c[kEmptyBottomEnd],
                      kGradientTopToBottom);
        if (position_ >= 1) {
            PaintGradient(0, 0, filled, h / 2, c[kFilledTopStart], c[kFilledTopEnd],
                          kGradientTopToBottom);
            PaintGradient(0, h / 2, filled, h, c[kFilledBottomStart], c[kFilledBottomEnd],
                          kGradientTopToBottom);
        }
    } else if (orientation_ == 2) {
        PaintGradient(0, filled, w / 2, h, c[kEmptyTopStart], c[kEmptyTopEnd],
                      kGradientLeftToRight);
        PaintGradient(w / 2, filled, w, h, c[kEmptyBottomStart], c[kEmptyBottomEnd],
                      kGradientLeftToRight);
        if (position_ >= 1) {
            PaintGradient(0, 0, w / 2, filled, c[kFilledTopStart], c[kFilledTopEnd],
                          kGradientLeftToRight);
            PaintGradient(w / 2, 0, w, filled, c[kFilledBottomStart], c[kFilledBottomEnd],
                          kGradientLeftToRight);
        }
    }
    DrawText();
}

void CrystalProgressBar::BarText(char* out, uint32_t size) const {
    char text[160];
    char* end = text;
    switch (text_mode_) {
        case 1:
            end = write_decimal(text, position_);
            break;
        case 2: {
            // Hundredths of a percent, truncated: 50 of 100 is "50.00%".
            const int32_t hundredths = scaled(position_ < 0 ? 0 : position_, 10000, maximum_);
            end = write_decimal(text, hundredths / 100);
            const int32_t rest = hundredths % 100;
            *end++ = '.';
            *end++ = static_cast<char>('0' + rest / 10);
            *end++ = static_cast<char>('0' + rest % 10);
            *end++ = '%';
            break;
        }
        case 3:
            copy_text(out, size, caption_);
            return;
    }
    *end = '\0';
    copy_text(out, size, text);
}

bool CrystalProgressBar::TextPlace(int32_t tw, int32_t th, int32_t* x, int32_t* y) const {
    const int32_t w = drawing_width_, h = drawing_height_;
    if (text_alignment_ < 1 || text_alignment_ > 9) {
        *x = 0;
        *y = 0;
        return false;
    }
    // Columns of three: 1-3 at the left, 4-6 in the middle, 7-9 at the
    // right; in each, top, middle, bottom. W/2 − tw/2 − 1 is taken whole
    // and then truncated.
    const int column = (text_alignment_ - 1) / 3;
    const int row = (text_alignment_ - 1) % 3;
    *x = column == 0 ? 1 : column == 1 ? (w - tw - 2) / 2 : w - tw - 3;
    *y = row == 0 ? 0 : row == 1 ? (h - th - 2) / 2 : h - th - 1;
    return true;
}

void CrystalProgressBar::DrawText() {
    char text[160];
    BarText(text, sizeof text);
    if (text[0] == '\0' || text_effect_ < 1 || text_effect_ > 5)
        return;
    int32_t tw = 0, th = 0;
    platform_.measure_text(font_, text, &tw, &th);
    int32_t x = 0, y = 0;
    TextPlace(tw, th, &x, &y);
    const bool grey = enabled_ == 0;
    const uint32_t a = grey ? GreyColour(text_colour_) : text_colour_;
    const uint32_t b = grey ? GreyColour(effect_colour_) : effect_colour_;
    auto put = [&](int32_t at_x, int32_t at_y, uint32_t colour) {
        platform_.draw_text(window_, drawing_canvas_, at_x, at_y, colour, text);
    };
    switch (text_effect_) {
        case 2:
            put(x - 1, y - 1, b);
            put(x + 1, y + 1, kShadowGrey);
            break;
        case 3:
            put(x + 1, y + 1, b);
            put(x - 1, y, kShadowGrey);
            break;
        case 4:
            put(x + 1, y, b);
            put(x - 1, y, b);
            break;
        case 5:
            put(x + 1, y + 1, b);
            break;
    }
    put(x, y, a);
}

}  // namespace updater
