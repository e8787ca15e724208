// The window and unit model: what each window of the program holds while it
// runs, built from the image's forms. Texts are GBK, as the program sees them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/error_or.h"
#include "contract/unit_table.h"
#include "image/format/image.h"

namespace kernel::ui {

template <typename T>
using Result = base::Result<T>;

struct Font {
    std::string name;   // GBK; empty for the system's default face
    int32_t size = 9;   // points
    int32_t style = 0;  // RT_FONT_* bits
    // The height of the font's line in pixels where the form gives it so (`size`
    // is then the nearest size in points); 0 when the size in points rules.
    int32_t pixels = 0;
    bool operator==(const Font&) const = default;
};

// A picture button's states that have faces of their own.
inline constexpr size_t kFaceHover = 0;
inline constexpr size_t kFacePressed = 1;
inline constexpr size_t kFaceDisabled = 2;

// Everything of a unit that the program reads and writes.
struct Properties {
    std::string text;  // caption, or an edit box's content
    int32_t left = 0, top = 0, width = 0, height = 0;
    bool visible = false;
    bool enabled = true;
    bool focus = false;
    uint32_t text_colour = 0;
    uint32_t back_colour = 0;
    Font font;
    std::vector<uint8_t> picture;
    // A picture button's faces by state (kFace*); an empty one shows `picture`.
    std::array<std::vector<uint8_t>, 3> faces;
    std::vector<uint8_t> icon;       // a window's program icon: an icon file; empty for none
    std::vector<std::string> items;  // list box rows
    int32_t selection = -1;          // list box: selected row, -1 for none
    bool checked = false;            // radio button
    bool read_only = false;          // edit box
    bool multi_line = false;         // edit box
    int32_t alignment = 0;           // RT_ALIGN_*: edit box, label
    uint32_t scroll_bars = 0;        // RT_SCROLL_* bits: edit box, list box
    bool operator==(const Properties&) const = default;
};

// The row of unit_table.h that describes the unit type reference `type`;
// `libraries` are the program's library names by list position (the kernel
// library, always first, need not be given). Null for a type no row
// describes: it has what every unit has.
const RtUnitTypeRow* find_unit_type(uint32_t type, std::span<const std::string> libraries);

// The properties a unit of type `kind` starts with: its record's place and
// flags, the defaults of its type, and the tagged items that end its record
// (RT_FORM_* in unit_table.h). The error names what is wrong with the items.
Result<Properties> initial_properties(const image::Unit& unit, const RtUnitTypeRow* kind);
// The same for a program that uses no support library's unit types.
Result<Properties> initial_properties(const image::Unit& unit);

struct UnitState {
    const image::Unit* form = nullptr;  // the unit's record in the bound image
    Properties now;
    const RtUnitTypeRow* kind = nullptr;  // its type's row; null for a type no row describes
    // A unit copied at run time shares its original's record (type, holder,
    // events) and has an identifier and a name of its own.
    uint32_t copy_id = 0;
    std::string copy_name;
    uint32_t copy_holder = 0;  // the unit that holds a copy; 0: its original's holder

    uint32_t id() const { return copy_id != 0 ? copy_id : form->id; }
    uint32_t type() const { return form->type; }
    // The identifier of the unit holding it, 0 for the window.
    uint32_t holder() const { return copy_holder != 0 ? copy_holder : form->parent; }
    const std::string& name() const { return copy_id != 0 ? copy_name : form->name; }
    // Whether its type has the facets (RT_FACET_*) that a property, a form
    // item or a behaviour needs.
    bool has(uint32_t facets) const { return rt_type_has(kind, facets) != 0; }
    // Whether it has the property RT_PROPERTY_* `property` (a known one).
    bool has_property(const RtPropertyRow& property) const { return has(property.facets); }
};

struct WindowState {
    const image::Window* form = nullptr;
    std::vector<Properties> initial;          // per unit, in form order
    std::vector<const RtUnitTypeRow*> kinds;  // per unit, in form order
    std::vector<UnitState> units;             // the window's own record first, copies last
    bool open = false;
    bool modal = false;
    bool closing = false;
    bool used = false;  // built for an opening or a program's access since the form
    // Counts the openings: a modal loop waits for the closing of its own one.
    uint32_t generation = 0;
    size_t focus = 0;  // the unit with the keyboard focus (its index), 0 for none

    uint32_t id() const { return form->id; }
    // Units from the form's initial values.
    void rebuild();
    // The unit with this identifier (0 or the own record's identifier names
    // the window itself); null when the window has none.
    UnitState* unit(uint32_t id);
    // The first unit of this name (GBK), the window's own record excluded.
    UnitState* unit_named(std::string_view name);
    UnitState* parent_of(const UnitState& unit);
    const UnitState* parent_of(const UnitState& unit) const {
        return const_cast<WindowState*>(this)->parent_of(unit);
    }
};

// Whether the keyboard can reach the unit: it takes input (an edit box, a
// button, a radio button, a list box, a picture button) or its form says it
// takes the focus.
bool is_tab_stop(const UnitState& unit);
// Whether the unit, every unit holding it and the window are shown and enabled.
bool within_reach(const WindowState& window, const UnitState& unit);
// The tab stop within reach that follows the unit `from` (an index; 0 for
// none) in tab order, which is the order of the units in the form, or that
// comes before it when `backwards`; past the last comes the first again. 0
// when no unit can take the focus.
size_t next_tab_stop(const WindowState& window, size_t from, bool backwards);
// The unit that has the focus when the window has opened, as on a dialog:
// the first within reach whose form gives it the focus, else the first tab
// stop; 0 for none.
size_t initial_focus(const WindowState& window);

// A unit's name for messages and transcripts: its name in UTF-8, or its
// identifier when it has no name.
std::string display_name(const UnitState& unit);

}  // namespace kernel::ui
