#include "runtime/kernel/ui/model.h"

#include <algorithm>
#include <set>

#include "base/byte_reader.h"
#include "base/encoding.h"
#include "base/hex.h"
#include "contract/runtime_abi.h"
#include "runtime/kernel/ui/icon_file.h"

namespace kernel::ui {

using base::fail;

namespace {

constexpr uint32_t kWhite = 0x00FFFFFF;
constexpr uint32_t kFace = 0x00F0F0F0;

// Reads the tagged items that end a unit record.
class ItemReader {
  public:
    explicit ItemReader(std::span<const uint8_t> bytes) : view_(bytes) {}

    bool done() const { return at_ >= view_.size(); }
    size_t at() const { return at_; }

    Result<uint8_t> tag() {
        auto value = view_.slice(at_, 1);
        if (!value)
            return fail(std::string("the items end early"));
        ++at_;
        return (*value)[0];
    }
    Result<uint32_t> u32(const char* what) {
        auto value = view_.u32(at_);
        if (!value)
            return fail(std::string(what) + " runs past the end of the record");
        at_ += 4;
        return *value;
    }
    Result<std::span<const uint8_t>> bytes(const char* what) {
        const uint32_t length = TRY(u32(what));
        auto value = view_.slice(at_, length);
        if (!value)
            return fail(std::string(what) + " of " + std::to_string(length) +
                        " bytes runs past the end of the record");
        at_ += length;
        return *value;
    }
    Result<std::string> text(const char* what) {
        std::span<const uint8_t> value = TRY(bytes(what));
        std::string text(value.begin(), value.end());
        if (text.find('\0') != std::string::npos)
            return fail(std::string(what) + " holds a zero byte");
        return text;
    }

  private:
    base::ByteView view_;
    size_t at_ = 0;
};

Result<void> read_item(ItemReader& reader, uint8_t tag, Properties& p) {
    switch (tag) {
        case RT_FORM_TEXT:
            p.text = TRY(reader.text("the text"));
            return {};
        case RT_FORM_TEXT_COLOUR:
            p.text_colour = TRY(reader.u32("the text colour"));
            return {};
        case RT_FORM_BACK_COLOUR:
            p.back_colour = TRY(reader.u32("the background colour"));
            return {};
        case RT_FORM_FONT:
            p.font.size = static_cast<int32_t>(TRY(reader.u32("the font size")));
            p.font.style = static_cast<int32_t>(TRY(reader.u32("the font style")));
            p.font.name = TRY(reader.text("the font face"));
            if (p.font.size <= 0)
                return fail("a font size of " + std::to_string(p.font.size) + " points");
            return {};
        case RT_FORM_FONT_PIXELS: {
            const uint32_t pixels = TRY(reader.u32("the font height"));
            p.font.style = static_cast<int32_t>(TRY(reader.u32("the font style")));
            p.font.name = TRY(reader.text("the font face"));
            if (pixels == 0 || pixels > 4096)
                return fail("a font height of " + std::to_string(pixels) + " pixels");
            p.font.pixels = static_cast<int32_t>(pixels);
            // What a program reads as the size: points of 1/72 inch on a
            // screen of 96 pixels an inch, rounded.
            p.font.size = std::max(1, (p.font.pixels * 72 + 48) / 96);
            return {};
        }
        case RT_FORM_ICON: {
            std::span<const uint8_t> icon = TRY(reader.bytes("the icon"));
            auto images = read_icon_file(icon);
            if (images.is_error())
                return fail(images.error().message());
            p.icon.assign(icon.begin(), icon.end());
            return {};
        }
        case RT_FORM_ITEMS: {
            const uint32_t count = TRY(reader.u32("the item count"));
            for (uint32_t i = 0; i < count; ++i)
                p.items.push_back(TRY(reader.text("an item")));
            return {};
        }
        case RT_FORM_SELECTION:
            p.selection = static_cast<int32_t>(TRY(reader.u32("the selected row")));
            return {};
        case RT_FORM_CHECKED:
            p.checked = true;
            return {};
        case RT_FORM_READ_ONLY:
            p.read_only = true;
            return {};
        case RT_FORM_MULTI_LINE:
            p.multi_line = true;
            return {};
        case RT_FORM_ALIGNMENT:
            p.alignment = static_cast<int32_t>(TRY(reader.u32("the alignment")));
            if (p.alignment < RT_ALIGN_LEFT || p.alignment > RT_ALIGN_RIGHT)
                return fail("an alignment of " + std::to_string(p.alignment));
            return {};
        case RT_FORM_SCROLL_BARS:
            p.scroll_bars = TRY(reader.u32("the scroll bars"));
            if ((p.scroll_bars & ~(RT_SCROLL_HORIZONTAL | RT_SCROLL_VERTICAL)) != 0)
                return fail("scroll bars " + base::hex(p.scroll_bars));
            return {};
        case RT_FORM_PICTURE: {
            std::span<const uint8_t> picture = TRY(reader.bytes("the picture"));
            p.picture.assign(picture.begin(), picture.end());
            return {};
        }
        case RT_FORM_HOVER_FACE:
        case RT_FORM_PRESSED_FACE:
        case RT_FORM_DISABLED_FACE: {
            std::span<const uint8_t> face = TRY(reader.bytes("the face"));
            p.faces[tag - RT_FORM_HOVER_FACE].assign(face.begin(), face.end());
            return {};
        }
    }
    return fail("unknown item " + std::to_string(tag));
}

}  // namespace

const RtUnitTypeRow* find_unit_type(uint32_t type, std::span<const std::string> libraries) {
    const uint32_t position = RT_TYPE_LIBRARY(type);
    if (position == 1)
        return rt_find_unit_type("krnln", RT_TYPE_NUMBER(type));
    if (position < 2 || position > libraries.size())
        return nullptr;
    return rt_find_unit_type(libraries[position - 1].c_str(), RT_TYPE_NUMBER(type));
}

Result<Properties> initial_properties(const image::Unit& unit) {
    return initial_properties(unit, find_unit_type(unit.type, {}));
}

Result<Properties> initial_properties(const image::Unit& unit, const RtUnitTypeRow* kind) {
    Properties p;
    p.left = unit.left;
    p.top = unit.top;
    p.width = unit.width;
    p.height = unit.height;
    p.visible = (unit.flags & image::kUnitVisible) != 0;
    p.enabled = (unit.flags & image::kUnitDisabled) == 0;
    p.focus = (unit.flags & image::kUnitFocus) != 0;
    p.back_colour = rt_type_has(kind, RT_FACET_FIELD) ? kWhite : kFace;

    ItemReader reader(unit.properties);
    std::set<uint8_t> seen;
    while (!reader.done()) {
        const size_t at = reader.at();
        const uint8_t tag = TRY(reader.tag());
        auto where = [&](const std::string& what) {
            return fail("item " + std::to_string(tag) + " at byte " + std::to_string(at) + ": " +
                        what);
        };
        if (!seen.insert(tag).second)
            return where("comes twice");
        const RtFormItemRow* item = rt_find_form_item(tag);
        if (item != nullptr && !rt_type_has(kind, item->facets))
            return where("does not belong to a unit of type " + base::hex(unit.type));
        auto read = read_item(reader, tag, p);
        if (read.is_error())
            return where(read.error());
    }
    if (seen.contains(RT_FORM_FONT) && seen.contains(RT_FORM_FONT_PIXELS))
        return fail(std::string("the font is given both in points and in pixels"));
    if (p.selection < -1 || p.selection >= static_cast<int32_t>(p.items.size()))
        return fail("the selected row " + std::to_string(p.selection) + " is not one of its " +
                    std::to_string(p.items.size()) + " rows");
    return p;
}

void WindowState::rebuild() {
    units.clear();
    for (size_t i = 0; i < form->units.size(); ++i)
        units.push_back({&form->units[i], initial[i], kinds[i]});
    used = true;
    focus = 0;
}

UnitState* WindowState::unit(uint32_t id) {
    if (id == 0)
        return &units.front();
    for (UnitState& unit : units) {
        if (unit.id() == id)
            return &unit;
    }
    return nullptr;
}

UnitState* WindowState::unit_named(std::string_view name) {
    for (size_t i = 1; i < units.size(); ++i) {
        if (units[i].name() == name)
            return &units[i];
    }
    return nullptr;
}

UnitState* WindowState::parent_of(const UnitState& unit) {
    if (unit.holder() == 0 || &unit == &units.front())
        return nullptr;
    for (UnitState& other : units) {
        if (other.id() == unit.holder() && &other != &unit)
            return &other;
    }
    return nullptr;
}

bool is_tab_stop(const UnitState& unit) {
    switch (unit.type()) {
        case RT_UNIT_EDIT:
        case RT_UNIT_BUTTON:
        case RT_UNIT_RADIO:
        case RT_UNIT_LIST:
        case RT_UNIT_PICTURE_BUTTON:
            return true;
    }
    return unit.now.focus;
}

bool within_reach(const WindowState& window, const UnitState& unit) {
    // The chains of holders end at the window: WindowSystem::create checks it.
    for (const UnitState* at = &unit; at != nullptr; at = window.parent_of(*at)) {
        if (!at->now.visible || !at->now.enabled)
            return false;
    }
    const Properties& own = window.units.front().now;
    return own.visible && own.enabled;
}

size_t next_tab_stop(const WindowState& window, size_t from, bool backwards) {
    std::vector<size_t> stops;
    for (size_t i = 1; i < window.units.size(); ++i) {
        if (is_tab_stop(window.units[i]) && within_reach(window, window.units[i]))
            stops.push_back(i);
    }
    if (stops.empty())
        return 0;
    if (!backwards) {
        for (size_t stop : stops) {
            if (stop > from)
                return stop;
        }
        return stops.front();
    }
    for (auto stop = stops.rbegin(); stop != stops.rend(); ++stop) {
        if (from != 0 && *stop < from)
            return *stop;
    }
    return stops.back();
}

size_t initial_focus(const WindowState& window) {
    for (size_t i = 1; i < window.units.size(); ++i) {
        if (window.units[i].now.focus && within_reach(window, window.units[i]))
            return i;
    }
    return next_tab_stop(window, 0, false);
}

std::string display_name(const UnitState& unit) {
    if (unit.name().empty())
        return base::hex(unit.id());
    return base::gbk_to_utf8(unit.name()).value_or(base::hex(unit.id()));
}

}  // namespace kernel::ui
