// Windows and their units as typed handles over the property slots and the
// kernel's window commands. A program does not make these itself: the header
// that the image linker writes from the description ("units.h") gives each
// window and each unit that declares a code name (`name changed_list`) a
// function that returns its handle:
//
//   #include "units.h"
//   ui::changed_list().add(name);
//   ui::status_label().set_text("  正在分析......");
//   ui::help_window().load_modal();
//
// A handle is two identifiers (window, unit; unit 0 for the window itself)
// and is passed by value. Texts are GBK; a text read is a new heap text
// (rt::Text) that the caller owns. The runtime checks every use: a property
// that the unit's type lacks, or a row that is not there, ends the program
// with a message naming them.
#pragma once

#include <stdint.h>

#include "rt/args.h"
#include "rt/markers.h"
#include "rt/slots.h"
#include "rt/text.h"

namespace rt {

namespace window_detail {

inline int64_t address_of(const void* address) {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(address));
}

}  // namespace window_detail

// What windows and units have alike: caption or content, place, visibility,
// colours, font, the system's handle.
class Element {
  public:
    constexpr Element(uint32_t window, uint32_t unit) : window_(window), unit_(unit) {}

    uint32_t window_id() const { return window_; }
    uint32_t unit_id() const { return unit_; }

    // A window's caption, a unit's caption or content.
    Text text() const { return Text::adopt(static_cast<intptr_t>(get(RT_PROPERTY_TEXT))); }
    void set_text(const char* text) const {
        set(RT_PROPERTY_TEXT, window_detail::address_of(text));
    }

    int32_t left() const { return static_cast<int32_t>(get(RT_PROPERTY_LEFT)); }
    int32_t top() const { return static_cast<int32_t>(get(RT_PROPERTY_TOP)); }
    int32_t width() const { return static_cast<int32_t>(get(RT_PROPERTY_WIDTH)); }
    int32_t height() const { return static_cast<int32_t>(get(RT_PROPERTY_HEIGHT)); }
    // Left and top relative to the holder's client area; each of the four is
    // its own write, so a change shows as it is made.
    void place(int32_t left, int32_t top, int32_t width, int32_t height) const {
        set(RT_PROPERTY_LEFT, left);
        set(RT_PROPERTY_TOP, top);
        set(RT_PROPERTY_WIDTH, width);
        set(RT_PROPERTY_HEIGHT, height);
    }
    void move_to(int32_t left, int32_t top) const {
        set(RT_PROPERTY_LEFT, left);
        set(RT_PROPERTY_TOP, top);
    }

    bool visible() const { return get(RT_PROPERTY_VISIBLE) != 0; }
    void set_visible(bool visible) const { set(RT_PROPERTY_VISIBLE, visible ? 1 : 0); }
    void show() const { set_visible(true); }
    void hide() const { set_visible(false); }

    bool enabled() const { return get(RT_PROPERTY_ENABLED) != 0; }
    void set_enabled(bool enabled) const { set(RT_PROPERTY_ENABLED, enabled ? 1 : 0); }

    // Colours as 0x00BBGGRR.
    uint32_t text_colour() const { return static_cast<uint32_t>(get(RT_PROPERTY_TEXT_COLOUR)); }
    void set_text_colour(uint32_t colour) const { set(RT_PROPERTY_TEXT_COLOUR, colour); }
    uint32_t back_colour() const { return static_cast<uint32_t>(get(RT_PROPERTY_BACK_COLOUR)); }
    void set_back_colour(uint32_t colour) const { set(RT_PROPERTY_BACK_COLOUR, colour); }

    // The face ("" for the system's), the size in points, RT_FONT_* bits.
    Text font_name() const {
        return Text::adopt(static_cast<intptr_t>(get(RT_PROPERTY_FONT_NAME)));
    }
    int32_t font_size() const { return static_cast<int32_t>(get(RT_PROPERTY_FONT_SIZE)); }
    int32_t font_style() const { return static_cast<int32_t>(get(RT_PROPERTY_FONT_STYLE)); }
    void set_font(const char* face, int32_t points, int32_t style) const {
        set(RT_PROPERTY_FONT_NAME, window_detail::address_of(face));
        set(RT_PROPERTY_FONT_SIZE, points);
        set(RT_PROPERTY_FONT_STYLE, style);
    }

    // The system's handle of the window or unit (an HWND on Windows), for
    // the Windows functions the program declares.
    intptr_t handle() const { return static_cast<intptr_t>(get(RT_PROPERTY_HANDLE)); }

  protected:
    int64_t get(int32_t property, int32_t index = -1) const {
        return rt_get_property(window_, unit_, property, index);
    }
    void set(int32_t property, int64_t value, int32_t index = -1) const {
        rt_set_property(window_, unit_, property, index, value);
    }

    uint32_t window_;
    uint32_t unit_;
};

// What shows a picture (a picture box, a picture button's face, a window's
// background): the picture file's bytes.
class WithPicture : public Element {
  public:
    using Element::Element;
    Bytes picture() const { return Bytes::adopt(static_cast<intptr_t>(get(RT_PROPERTY_PICTURE))); }
    void set_picture(const Bytes& picture) const {
        set(RT_PROPERTY_PICTURE, window_detail::address_of(picture.block()));
    }
    void clear_picture() const { set(RT_PROPERTY_PICTURE, 0); }
};

// A window, by its identifier.
class Window : public WithPicture {
  public:
    constexpr explicit Window(uint32_t window) : WithPicture(window, 0) {}

    // Opens the window, or brings it to the front when it is open.
    void load() const { rt_load_window(window_); }
    // Opens the window and serves events until this opening is closed.
    void load_modal() const {
        auto block = arguments(integer(static_cast<int32_t>(window_)));
        rt_kernel_command(RT_KERNEL_LOAD_WINDOW_MODAL, block.get());
    }
    void close() const {
        auto block = arguments(integer(static_cast<int32_t>(window_)));
        rt_kernel_command(RT_KERNEL_CLOSE_WINDOW, block.get());
    }
};

// Any unit of a window; the typed handles below add what their type has.
class Unit : public Element {
  public:
    constexpr Unit(uint32_t window, uint32_t unit) : Element(window, unit) {}
    Window window() const { return Window(window_); }
};

using Label = Unit;
using Button = Unit;
using GroupBox = Unit;
using Hyperlink = Unit;
using TransparentLabel = Unit;
// A one-line text's extent in pixels.
struct TextExtent {
    int32_t width;
    int32_t height;
};

// The extent of a text in a font: its face ("" for the system's), size in
// points and RT_FONT_* bits.
inline TextExtent measure_text(const char* face, int32_t points, int32_t style, const char* text) {
    auto block = arguments(rt::text(face), integer(points), integer(style), rt::text(text));
    const int64_t size = rt_kernel_command(RT_KERNEL_MEASURE_TEXT, block.get());
    return {static_cast<int32_t>(size & 0xFFFFFFFF), static_cast<int32_t>(size >> 32)};
}

// A drawing board keeps what is painted on it: texts (draw_text), and what
// the program's declared Windows functions paint through a device context of
// its handle().
class DrawingBoard : public Unit {
  public:
    using Unit::Unit;
    // A new board made as a copy of this one (same place, properties,
    // events), above the window's other units; held by this board's holder,
    // or `inside` this board (its place then counts from this board's top
    // left corner).
    DrawingBoard copy(bool inside = false) const {
        auto block = arguments(as_argument(), logical(inside));
        return DrawingBoard(
            window_, static_cast<uint32_t>(rt_kernel_command(RT_KERNEL_COPY_UNIT, block.get())));
    }
    // The text with its top left corner at (x, y), in the board's font and
    // the colour 0x00BBGGRR, without a background.
    void draw_text(int32_t x, int32_t y, uint32_t colour, const char* text) const {
        auto block = arguments(as_argument(), integer(x), integer(y),
                               integer(static_cast<int32_t>(colour)), rt::text(text));
        rt_kernel_command(RT_KERNEL_DRAW_TEXT, block.get());
    }

  private:
    RtArgument as_argument() const { return rt::unit(RT_TYPE(krnln, 0008), window_, unit_); }
};

class EditBox : public Unit {
  public:
    using Unit::Unit;
    bool read_only() const { return get(RT_PROPERTY_READ_ONLY) != 0; }
    void set_read_only(bool on) const { set(RT_PROPERTY_READ_ONLY, on ? 1 : 0); }
    bool multi_line() const { return get(RT_PROPERTY_MULTI_LINE) != 0; }
    void set_multi_line(bool on) const { set(RT_PROPERTY_MULTI_LINE, on ? 1 : 0); }
};

// Checking one unchecks the other radio buttons of the same holder.
class RadioButton : public Unit {
  public:
    using Unit::Unit;
    bool checked() const { return get(RT_PROPERTY_CHECKED) != 0; }
    void set_checked(bool on) const { set(RT_PROPERTY_CHECKED, on ? 1 : 0); }
};

class PictureBox : public WithPicture {
  public:
    using WithPicture::WithPicture;
    Window window() const { return Window(window_); }
};

// A picture button: its picture is its face, with a face of its own (when
// set) while the mouse is over it, while it is held and while it is disabled.
class PictureButton : public PictureBox {
  public:
    using PictureBox::PictureBox;
    enum State { kNormal, kHover, kPressed, kDisabled };
    Bytes face(State state = kNormal) const {
        return Bytes::adopt(static_cast<intptr_t>(get(face_property(state))));
    }
    // An empty face (a null block) shows the normal face in that state.
    void set_face(const Bytes& face, State state = kNormal) const {
        set(face_property(state), window_detail::address_of(face.block()));
    }

  private:
    static int32_t face_property(State state) {
        return state == kHover      ? RT_PROPERTY_HOVER_FACE
               : state == kPressed  ? RT_PROPERTY_PRESSED_FACE
               : state == kDisabled ? RT_PROPERTY_DISABLED_FACE
                                    : RT_PROPERTY_PICTURE;
    }
};

// An HTML view shows the page at its address (its text).
class HtmlView : public Unit {
  public:
    using Unit::Unit;
    Text address() const { return text(); }
    void set_address(const char* address) const { set_text(address); }
};

// A list box: rows counted from 0; the selection is a row or -1 for none.
class ListBox : public Unit {
  public:
    using Unit::Unit;

    int32_t count() const { return static_cast<int32_t>(get(RT_PROPERTY_ITEM_COUNT)); }
    Text row(int32_t row) const {
        return Text::adopt(static_cast<intptr_t>(get(RT_PROPERTY_ITEM, row)));
    }
    void set_row(int32_t row, const char* text) const {
        set(RT_PROPERTY_ITEM, window_detail::address_of(text), row);
    }
    // A new row before `row` (-1: at the end); gives the new row.
    int32_t insert(const char* text, int32_t row = -1) const {
        auto block = arguments(as_argument(), rt::text(text), integer(row));
        return static_cast<int32_t>(rt_kernel_command(RT_KERNEL_INSERT_ITEM, block.get()));
    }
    int32_t add(const char* text) const { return insert(text, -1); }
    void remove(int32_t row) const {
        auto block = arguments(as_argument(), integer(row));
        rt_kernel_command(RT_KERNEL_REMOVE_ITEM, block.get());
    }
    void clear() const {
        auto block = arguments(as_argument());
        rt_kernel_command(RT_KERNEL_CLEAR_ITEMS, block.get());
    }

    int32_t selection() const { return static_cast<int32_t>(get(RT_PROPERTY_SELECTION)); }
    // Selecting by the program runs no selection event.
    void select(int32_t row) const { set(RT_PROPERTY_SELECTION, row); }
    Text selected_row() const { return row(selection()); }

  private:
    // The list box as a command argument: its type, window and unit.
    RtArgument as_argument() const { return rt::unit(RT_TYPE(krnln, 000F), window_, unit_); }
};

}  // namespace rt
