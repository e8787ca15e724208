#include "runtime/kernel/ui/window_system.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/hex.h"
#include "contract/runtime_abi.h"

namespace kernel::ui {

using base::fail;
using base::hex;

namespace {

int64_t address_value(const void* address) {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(address));
}

template <typename T>
const T* value_address(int64_t value) {
    return reinterpret_cast<const T*>(static_cast<uintptr_t>(value));
}

}  // namespace

TextSize cell_text_size(const Font& font, std::string_view gbk) {
    // Points at 96 dots per inch, rounded as the system rounds them.
    const int64_t points = std::clamp<int64_t>(font.size, 1, 1000);
    const int32_t height = static_cast<int32_t>((points * 96 + 36) / 72);
    int64_t width = 0;
    for (size_t i = 0; i < gbk.size(); ++i) {
        const auto lead = static_cast<uint8_t>(gbk[i]);
        if (lead >= 0x81 && lead <= 0xFE && i + 1 < gbk.size()) {
            ++i;
            width += height;
        } else {
            width += height / 2;
        }
    }
    return {static_cast<int32_t>(std::min<int64_t>(width, INT32_MAX)), height};
}

Result<std::unique_ptr<WindowSystem>> WindowSystem::create(const std::vector<image::Window>& forms,
                                                           Host& host,
                                                           std::span<const std::string> libraries) {
    std::unique_ptr<WindowSystem> system(new WindowSystem(host));
    for (const image::Window& form : forms) {
        auto window = std::make_unique<WindowState>();
        window->form = &form;
        for (const image::Unit& unit : form.units) {
            const RtUnitTypeRow* kind = find_unit_type(unit.type, libraries);
            window->kinds.push_back(kind);
            auto initial = initial_properties(unit, kind);
            if (initial.is_error())
                return fail("the unit " + (unit.name.empty() ? hex(unit.id) : unit.name) +
                            " of the window " + hex(form.id) + ": " + initial.error().message());
            window->initial.push_back(initial.release_value());
        }
        // Units are held by units: every chain of holders must reach the
        // window, or a walk up it would never end.
        for (const image::Unit& unit : form.units) {
            uint32_t holder = unit.parent;
            for (size_t step = 0; holder != 0; ++step) {
                auto found = std::find_if(form.units.begin() + 1, form.units.end(),
                                          [&](const image::Unit& u) { return u.id == holder; });
                if (found == form.units.end())
                    break;  // held by the window (its own record, or none of its units)
                if (step == form.units.size())
                    return fail("the unit " + (unit.name.empty() ? hex(unit.id) : unit.name) +
                                " of the window " + hex(form.id) +
                                ": its chain of holders goes round in a circle");
                holder = found->parent;
            }
        }
        system->windows_[form.id] = std::move(window);
    }
    return system;
}

// ---- lookups ----

WindowState& WindowSystem::program_window(uint32_t id) {
    auto found = windows_.find(id);
    if (found == windows_.end())
        fatal("The program has no window " + hex(id) + ".");
    WindowState& window = *found->second;
    if (!window.used)
        window.rebuild();
    return window;
}

UnitState& WindowSystem::program_unit(WindowState& window, uint32_t id) {
    UnitState* unit = window.unit(id);
    if (unit == nullptr)
        fatal("The window " + hex(window.id()) + " has no unit " + hex(id) + ".");
    return *unit;
}

std::string WindowSystem::unit_label(const WindowState& window, const UnitState& unit) const {
    if (&unit == &window.units.front())
        return "the window " + hex(window.id());
    return "the unit " + unit.name() + " (" + hex(unit.id()) + ") of the window " +
           hex(window.id());
}

WindowState* WindowSystem::window(uint32_t id) {
    auto found = windows_.find(id);
    return found != windows_.end() ? found->second.get() : nullptr;
}

WindowState* WindowSystem::active_window() {
    return stack_.empty() ? nullptr : window(stack_.back());
}

bool WindowSystem::reachable(uint32_t id) const {
    auto at = std::find(stack_.begin(), stack_.end(), id);
    if (at == stack_.end())
        return false;
    for (auto above = at + 1; above != stack_.end(); ++above) {
        if (windows_.at(*above)->modal)
            return false;
    }
    return true;
}

std::string WindowSystem::why_unusable(WindowState& window, UnitState& unit) {
    for (UnitState* at = &unit; at != nullptr; at = window.parent_of(*at)) {
        const std::string which =
            at == &unit ? "the unit " + display_name(unit)
                        : "the unit " + display_name(*at) + " that holds " + display_name(unit);
        if (!at->now.visible)
            return which + " is hidden";
        if (!at->now.enabled)
            return which + " is disabled";
    }
    const Properties& own = window.units.front().now;
    if (!own.visible)
        return "the window " + hex(window.id()) + " is hidden";
    if (!own.enabled)
        return "the window " + hex(window.id()) + " is disabled";
    return {};
}

// ---- window life ----

void WindowSystem::open(WindowState& window, bool modal) {
    // A window that was open before starts again from its form.
    if (window.generation > 0 || !window.used)
        window.rebuild();
    window.open = true;
    window.modal = modal;
    ++window.generation;
    if (start_window_ == 0)
        start_window_ = window.id();
    stack_.push_back(window.id());
    if (user_interface_)
        user_interface_->window_opened(window);
    const uint32_t generation = window.generation;
    fire(window.id(), 0, RT_EVENT_MAIN);
    // The focus is given once the creation has set the units up, as a
    // dialog gives it after its initialisation; the icon's line comes with
    // it, after the lines of what the creation did.
    if (!window.open || window.generation != generation)
        return;
    if (!window.units.front().now.icon.empty())
        notify(window, window.units.front(), {Aspect::Icon});
    window.focus = initial_focus(window);
    if (window.focus != 0)
        notify(window, window.units[window.focus], {Aspect::FocusAtStart});
}

void WindowSystem::load(uint32_t id) {
    WindowState& window = program_window(id);
    if (window.open) {
        activate(id);
        return;
    }
    open(window, false);
}

void WindowSystem::load_modal(uint32_t id) {
    WindowState& window = program_window(id);
    if (window.open)
        fatal("The window " + hex(id) + " is already loaded; it cannot be shown modal.");
    open(window, true);
    const uint32_t generation = window.generation;
    while (window.open && window.generation == generation)
        serve_one();
}

void WindowSystem::close(uint32_t id) {
    WindowState& window = program_window(id);
    if (!window.open)
        fatal("The window " + hex(id) + " is not loaded; it cannot be closed.");
    close_open(id);
}

void WindowSystem::close_open(uint32_t id) {
    WindowState& window = *windows_.at(id);
    if (window.closing)
        return;  // closed from its own closing event: it is closing already
    window.closing = true;
    fire(id, 0, RT_EVENT_WINDOW_CLOSING);
    window.closing = false;
    if (!window.open)
        return;
    window.open = false;
    window.modal = false;
    stack_.erase(std::find(stack_.begin(), stack_.end(), id));
    if (user_interface_)
        user_interface_->window_closed(window);
}

void WindowSystem::serve_events() {
    while (!stack_.empty())
        serve_one();
}

void WindowSystem::serve_one() {
    if (!user_interface_ || !user_interface_->serve_one(*this))
        host_.end_program();
}

int32_t WindowSystem::message_box(const MessageBoxRequest& request) {
    if (request.icon != RT_MB_ICON_NONE && request.icon != RT_MB_ICON_ERROR &&
        request.icon != RT_MB_ICON_INFORMATION)
        fatal("A message box asks for the unknown icon " +
              hex(static_cast<uint32_t>(request.icon)) + ".");
    if (request.buttons != RT_MB_OK && request.buttons != RT_MB_OK_CANCEL &&
        request.buttons != RT_MB_YES_NO)
        fatal("A message box asks for the unknown buttons " +
              hex(static_cast<uint32_t>(request.buttons)) + ".");
    if (!user_interface_)
        host_.end_program();
    if (!request.title.empty())
        return user_interface_->message_box(request);
    // Left to itself the system would title the box "Error".
    MessageBoxRequest titled = request;
    titled.title = start_caption();
    return user_interface_->message_box(titled);
}

std::string WindowSystem::start_caption() const {
    if (start_window_ != 0)
        return windows_.at(start_window_)->units.front().now.text;
    // Nothing loaded yet: the caption of the start window's form.
    auto first = windows_.find(RT_START_WINDOW);
    if (first != windows_.end() && !first->second->initial.empty())
        return first->second->initial.front().text;
    return {};
}

void WindowSystem::serve_pending() {
    if (user_interface_)
        user_interface_->serve_pending();
}

void WindowSystem::show_wait_cursor(bool on) {
    if (user_interface_)
        user_interface_->show_wait_cursor(on);
}

std::optional<std::string> WindowSystem::choose_folder(const FolderRequest& request) {
    if (!user_interface_)
        return std::nullopt;
    return user_interface_->choose_folder(request);
}

std::vector<uint32_t> WindowSystem::handlers(uint32_t window_id, uint32_t unit_id, int32_t event) {
    std::vector<uint32_t> offsets;
    WindowState* window = this->window(window_id);
    if (window == nullptr || !window->open)
        return offsets;
    UnitState* unit = window->unit(unit_id);
    if (unit == nullptr)
        return offsets;
    for (const image::UnitEvent& e : unit->form->events) {
        if (e.event == event)
            offsets.push_back(e.handler);
    }
    return offsets;
}

void WindowSystem::fire(uint32_t window_id, uint32_t unit_id, int32_t event) {
    // The handlers may change anything, the model included: their offsets
    // are taken first.
    for (uint32_t handler : handlers(window_id, unit_id, event))
        host_.run_handler(handler);
}

void WindowSystem::notify(const WindowState& window, const UnitState& unit, Change change) {
    if (window.open && user_interface_)
        user_interface_->unit_changed(window, unit, change);
}

// ---- properties ----

void WindowSystem::check_property(WindowState& window, UnitState& unit, int32_t property,
                                  int32_t index) {
    const RtPropertyRow* row = rt_find_property(property);
    if (row == nullptr)
        fatal("Unknown property " + std::to_string(property) + " of " + unit_label(window, unit) +
              ".");
    if (!unit.has_property(*row))
        fatal("There is no property " + std::to_string(property) + " in " +
              unit_label(window, unit) + ".");
    if (row->index == RT_INDEX_ROW) {
        const size_t rows = unit.now.items.size();
        if (index < 0 || static_cast<size_t>(index) >= rows)
            fatal("There is no row " + std::to_string(index) + " in " + unit_label(window, unit) +
                  " (it has " + std::to_string(rows) + ").");
    } else if (index != -1) {
        fatal("Property " + std::to_string(property) + " of " + unit_label(window, unit) +
              " takes no index (" + std::to_string(index) + ").");
    }
}

int64_t WindowSystem::get_property(uint32_t window_id, uint32_t unit_id, int32_t property,
                                   int32_t index) {
    WindowState& window = program_window(window_id);
    UnitState& unit = program_unit(window, unit_id);
    check_property(window, unit, property, index);
    const Properties& p = unit.now;
    auto heap_text = [&](const std::string& text) {
        auto* copy = static_cast<char*>(host_.heap_new(static_cast<uint32_t>(text.size() + 1)));
        std::memcpy(copy, text.c_str(), text.size() + 1);
        return address_value(copy);
    };
    switch (property) {
        case RT_PROPERTY_TEXT:
            return heap_text(p.text);
        case RT_PROPERTY_LEFT:
            return p.left;
        case RT_PROPERTY_TOP:
            return p.top;
        case RT_PROPERTY_WIDTH:
            return p.width;
        case RT_PROPERTY_HEIGHT:
            return p.height;
        case RT_PROPERTY_VISIBLE:
            return p.visible;
        case RT_PROPERTY_ENABLED:
            return p.enabled;
        case RT_PROPERTY_TEXT_COLOUR:
            return p.text_colour;
        case RT_PROPERTY_BACK_COLOUR:
            return p.back_colour;
        case RT_PROPERTY_FONT_NAME:
            return heap_text(p.font.name);
        case RT_PROPERTY_FONT_SIZE:
            return p.font.size;
        case RT_PROPERTY_FONT_STYLE:
            return p.font.style;
        case RT_PROPERTY_PICTURE:
        case RT_PROPERTY_HOVER_FACE:
        case RT_PROPERTY_PRESSED_FACE:
        case RT_PROPERTY_DISABLED_FACE: {
            const std::vector<uint8_t>& picture =
                property == RT_PROPERTY_PICTURE
                    ? p.picture
                    : p.faces[static_cast<size_t>(property - RT_PROPERTY_HOVER_FACE)];
            const uint32_t size = static_cast<uint32_t>(picture.size());
            auto* array = static_cast<RtArrayHeader*>(
                host_.heap_new(static_cast<uint32_t>(sizeof(RtArrayHeader)) + size));
            array->dimensions = 1;
            array->count = size;
            if (size != 0)
                std::memcpy(array + 1, picture.data(), size);
            return address_value(array);
        }
        case RT_PROPERTY_ITEM_COUNT:
            return static_cast<int64_t>(p.items.size());
        case RT_PROPERTY_ITEM:
            return heap_text(p.items[static_cast<size_t>(index)]);
        case RT_PROPERTY_SELECTION:
            return p.selection;
        case RT_PROPERTY_CHECKED:
            return p.checked;
        case RT_PROPERTY_READ_ONLY:
            return p.read_only;
        case RT_PROPERTY_MULTI_LINE:
            return p.multi_line;
        case RT_PROPERTY_HANDLE:
            return user_interface_ && window.open ? user_interface_->handle_of(window, unit) : 0;
    }
    return 0;
}

void WindowSystem::set_property(uint32_t window_id, uint32_t unit_id, int32_t property,
                                int32_t index, int64_t value) {
    WindowState& window = program_window(window_id);
    UnitState& unit = program_unit(window, unit_id);
    check_property(window, unit, property, index);
    auto label = [&] { return unit_label(window, unit); };
    if (rt_find_property(property)->access == RT_ACCESS_READ)
        fatal("Property " + std::to_string(property) + " of " + label() + " is read only.");
    auto wrong = [&](const char* what) {
        fatal("The value written to property " + std::to_string(property) + " of " + label() +
              " is not " + what + ".");
    };
    Properties& p = unit.now;
    // A null address is the empty text, as in a command's arguments.
    auto text = [&]() {
        const char* address = value_address<char>(value);
        if (address == nullptr)
            return std::string();
        const int64_t length = host_.text_length(address);
        if (length < 0)
            wrong("a text that ends inside the program's memory");
        return std::string(address, static_cast<size_t>(length));
    };
    const int32_t number = static_cast<int32_t>(value);
    switch (property) {
        case RT_PROPERTY_TEXT:
            set_text(window, unit, text());
            return;
        case RT_PROPERTY_LEFT:
            set_place(window, unit, p.left, number);
            return;
        case RT_PROPERTY_TOP:
            set_place(window, unit, p.top, number);
            return;
        case RT_PROPERTY_WIDTH:
            set_place(window, unit, p.width, number);
            return;
        case RT_PROPERTY_HEIGHT:
            set_place(window, unit, p.height, number);
            return;
        case RT_PROPERTY_VISIBLE:
            set_flag(window, unit, p.visible, value != 0, Aspect::Visible);
            return;
        case RT_PROPERTY_ENABLED:
            set_flag(window, unit, p.enabled, value != 0, Aspect::Enabled);
            return;
        case RT_PROPERTY_TEXT_COLOUR:
            p.text_colour = static_cast<uint32_t>(value);
            notify(window, unit, {Aspect::Colours});
            return;
        case RT_PROPERTY_BACK_COLOUR:
            p.back_colour = static_cast<uint32_t>(value);
            notify(window, unit, {Aspect::Colours});
            return;
        case RT_PROPERTY_FONT_NAME:
            p.font.name = text();
            notify(window, unit, {Aspect::Font});
            return;
        case RT_PROPERTY_FONT_SIZE:
            if (number <= 0)
                fatal("A font size of " + std::to_string(number) + " points for " + label() + ".");
            p.font.size = number;
            p.font.pixels = 0;  // the size written rules from now on
            notify(window, unit, {Aspect::Font});
            return;
        case RT_PROPERTY_FONT_STYLE:
            if ((number & ~(RT_FONT_BOLD | RT_FONT_ITALIC | RT_FONT_UNDERLINE)) != 0)
                fatal("The unknown font style " + hex(static_cast<uint32_t>(number)) + " for " +
                      label() + ".");
            p.font.style = number;
            notify(window, unit, {Aspect::Font});
            return;
        case RT_PROPERTY_PICTURE:
        case RT_PROPERTY_HOVER_FACE:
        case RT_PROPERTY_PRESSED_FACE:
        case RT_PROPERTY_DISABLED_FACE: {
            std::vector<uint8_t>& picture =
                property == RT_PROPERTY_PICTURE
                    ? p.picture
                    : p.faces[static_cast<size_t>(property - RT_PROPERTY_HOVER_FACE)];
            const RtArrayHeader* array = value_address<RtArrayHeader>(value);
            if (array == nullptr) {
                picture.clear();
            } else {
                const int64_t count = host_.byte_array_length(array);
                if (count < 0)
                    wrong("a byte array on the runtime's heap or in the image");
                const auto* bytes = reinterpret_cast<const uint8_t*>(array + 1);
                picture.assign(bytes, bytes + count);
            }
            notify(window, unit, {Aspect::Picture});
            return;
        }
        case RT_PROPERTY_ITEM: {
            std::string item = text();
            std::string& row = p.items[static_cast<size_t>(index)];
            if (row != item) {
                row = std::move(item);
                notify(window, unit, {Aspect::ItemText, index});
            }
            return;
        }
        case RT_PROPERTY_SELECTION:
            if (value < -1 || value >= static_cast<int64_t>(p.items.size()))
                fatal("There is no row " + std::to_string(value) + " to select in " + label() +
                      " (it has " + std::to_string(p.items.size()) + ").");
            if (p.selection != number) {
                p.selection = number;
                notify(window, unit, {Aspect::Selection});
            }
            return;
        case RT_PROPERTY_CHECKED:
            set_checked(window, unit, value != 0);
            return;
        case RT_PROPERTY_READ_ONLY:
            p.read_only = value != 0;
            notify(window, unit, {Aspect::Style});
            return;
        case RT_PROPERTY_MULTI_LINE:
            p.multi_line = value != 0;
            notify(window, unit, {Aspect::Style});
            return;
    }
}

void WindowSystem::set_text(WindowState& window, UnitState& unit, std::string text) {
    if (unit.now.text == text)
        return;
    unit.now.text = std::move(text);
    notify(window, unit, {Aspect::Text});
    if (unit.has(RT_FACET_TYPED))
        fire(window.id(), unit.id(), RT_EVENT_CONTENT_CHANGED);
}

void WindowSystem::set_checked(WindowState& window, UnitState& unit, bool checked) {
    if (checked) {
        for (UnitState& other : window.units) {
            if (&other != &unit && other.has(RT_FACET_CHECK) && other.holder() == unit.holder() &&
                other.now.checked) {
                other.now.checked = false;
                notify(window, other, {Aspect::Checked});
            }
        }
    }
    if (unit.now.checked != checked) {
        unit.now.checked = checked;
        notify(window, unit, {Aspect::Checked});
    }
}

void WindowSystem::set_place(WindowState& window, UnitState& unit, int32_t& field, int32_t value) {
    if (field == value)
        return;
    field = value;
    notify(window, unit, {Aspect::Place});
}

void WindowSystem::set_flag(WindowState& window, UnitState& unit, bool& field, bool value,
                            Aspect aspect) {
    if (field == value)
        return;
    field = value;
    notify(window, unit, {aspect});
}

// ---- list box rows ----

UnitState& WindowSystem::list_unit(WindowState& window, uint32_t unit_id, const char* command) {
    UnitState& unit = program_unit(window, unit_id);
    if (!unit.has(RT_FACET_ROWS))
        fatal(std::string(command) + " needs a list box; " + unit_label(window, unit) +
              " is not one.");
    return unit;
}

int32_t WindowSystem::insert_item(uint32_t window_id, uint32_t unit_id, std::string text,
                                  int32_t row) {
    WindowState& window = program_window(window_id);
    UnitState& unit = list_unit(window, unit_id, "Inserting a row");
    Properties& p = unit.now;
    const auto count = static_cast<int32_t>(p.items.size());
    if (row == -1)
        row = count;
    if (row < 0 || row > count)
        fatal("A row cannot be inserted at " + std::to_string(row) + " in " +
              unit_label(window, unit) + " (it has " + std::to_string(count) + ").");
    p.items.insert(p.items.begin() + row, std::move(text));
    // The selection stays with its row.
    if (p.selection >= row)
        ++p.selection;
    notify(window, unit, {Aspect::ItemInserted, row});
    return row;
}

void WindowSystem::remove_item(uint32_t window_id, uint32_t unit_id, int32_t row) {
    WindowState& window = program_window(window_id);
    UnitState& unit = list_unit(window, unit_id, "Removing a row");
    Properties& p = unit.now;
    if (row < 0 || static_cast<size_t>(row) >= p.items.size())
        fatal("There is no row " + std::to_string(row) + " to remove in " +
              unit_label(window, unit) + " (it has " + std::to_string(p.items.size()) + ").");
    p.items.erase(p.items.begin() + row);
    if (p.selection == row)
        p.selection = -1;
    else if (p.selection > row)
        --p.selection;
    notify(window, unit, {Aspect::ItemRemoved, row});
}

void WindowSystem::clear_items(uint32_t window_id, uint32_t unit_id) {
    WindowState& window = program_window(window_id);
    UnitState& unit = list_unit(window, unit_id, "Clearing the rows");
    unit.now.items.clear();
    unit.now.selection = -1;
    notify(window, unit, {Aspect::ItemsCleared});
}

// ---- units made and drawn on at run time ----

uint32_t WindowSystem::copy_unit(uint32_t window_id, uint32_t unit_id, bool inside) {
    WindowState& window = program_window(window_id);
    const UnitState& original = program_unit(window, unit_id);
    if (&original == &window.units.front())
        fatal("The window " + hex(window.id()) + " cannot be copied as a unit.");
    if (window.units.size() >= 0xFFFF)
        fatal("The window " + hex(window.id()) + " has no room for another unit.");
    UnitState copy = original;
    uint32_t id = 0;
    for (const UnitState& unit : window.units)
        id = std::max(id, unit.id());
    copy.copy_id = id + 1;
    copy.copy_holder = inside ? original.id() : original.holder();
    const std::string& base_name = original.form->name;
    uint32_t number = 1;
    for (const UnitState& unit : window.units) {
        if (unit.copy_id != 0 && unit.form == original.form)
            ++number;
    }
    copy.copy_name =
        (base_name.empty() ? hex(original.form->id) : base_name) + "#" + std::to_string(number);
    const size_t at = static_cast<size_t>(&original - window.units.data());
    window.units.push_back(std::move(copy));
    if (window.open && user_interface_)
        user_interface_->unit_copied(window, window.units[at], window.units.back());
    return window.units.back().id();
}

void WindowSystem::draw_text(uint32_t window_id, uint32_t unit_id, const DrawnText& text) {
    WindowState& window = program_window(window_id);
    UnitState& unit = program_unit(window, unit_id);
    if (unit.type() != RT_UNIT_CANVAS)
        fatal("Drawing a text needs a drawing board; " + unit_label(window, unit) + " is not one.");
    if (window.open && user_interface_)
        user_interface_->draw_text(window, unit, text);
}

TextSize WindowSystem::measure_text(const Font& font, std::string_view gbk) {
    return user_interface_ ? user_interface_->measure_text(font, gbk) : cell_text_size(font, gbk);
}

// ---- what the person does ----

void WindowSystem::activate(uint32_t id) {
    auto at = std::find(stack_.begin(), stack_.end(), id);
    if (at == stack_.end())
        return;
    stack_.erase(at);
    stack_.push_back(id);
}

void WindowSystem::tab(uint32_t window_id, bool backwards) {
    WindowState& window = *this->window(window_id);
    const size_t next = next_tab_stop(window, window.focus, backwards);
    if (next == 0)
        return;
    window.focus = next;
    notify(window, window.units[next], {Aspect::Focus});
}

void WindowSystem::focus_taken(uint32_t window_id, size_t index) {
    WindowState* window = this->window(window_id);
    if (window != nullptr && index < window->units.size())
        window->focus = index;
}

void WindowSystem::press(uint32_t window_id, uint32_t unit_id, int32_t x, int32_t y, int32_t keys) {
    for (uint32_t handler : handlers(window_id, unit_id, RT_EVENT_LEFT_BUTTON_DOWN))
        host_.run_mouse_handler(handler, x, y, keys);
}

void WindowSystem::click(uint32_t window_id, uint32_t unit_id) {
    WindowState& window = *this->window(window_id);
    UnitState& unit = *window.unit(unit_id);
    if (unit.has(RT_FACET_CHECK))
        set_checked(window, unit, true);
    fire(window_id, unit_id, RT_EVENT_MAIN);
}

void WindowSystem::type(uint32_t window_id, uint32_t unit_id, std::string text) {
    WindowState& window = *this->window(window_id);
    UnitState& unit = *window.unit(unit_id);
    // A single-line edit box takes what is typed up to the first line break.
    if (!unit.now.multi_line)
        text = text.substr(0, text.find_first_of("\r\n"));
    set_text(window, unit, std::move(text));
}

void WindowSystem::select(uint32_t window_id, uint32_t unit_id, int32_t row) {
    WindowState& window = *this->window(window_id);
    UnitState& unit = *window.unit(unit_id);
    if (unit.now.selection != row) {
        unit.now.selection = row;
        notify(window, unit, {Aspect::Selection});
    }
    fire(window_id, unit_id, RT_EVENT_SELECTION_CHANGED);
}

}  // namespace kernel::ui
