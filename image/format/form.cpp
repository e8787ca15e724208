// The form segment: the window table, one block per window, one record per unit.
#include <cstdio>

#include "base/byte_reader.h"
#include "base/hex.h"
#include "image/format/image.h"

namespace image {

namespace {

using base::hex;

base::Failure<std::string> refuse(std::string message) {
    return base::fail(std::move(message));
}

// Reads fields one after another from one span; every failure names the
// place (`where`) and the field.
class Cursor {
  public:
    Cursor(std::span<const uint8_t> bytes, std::string where)
        : view_(bytes), where_(std::move(where)) {}

    size_t position() const { return position_; }
    std::span<const uint8_t> rest() const { return view_.bytes().subspan(position_); }

    ImageResult<uint32_t> u32(const char* field) {
        auto value = view_.u32(position_);
        if (!value)
            return refuse(where_ + ": ends inside its " + field);
        position_ += 4;
        return *value;
    }
    ImageResult<int32_t> i32(const char* field) { return static_cast<int32_t>(TRY(u32(field))); }
    ImageResult<void> zero_u32(const char* field) {
        uint32_t value = TRY(u32(field));
        if (value != 0)
            return refuse(where_ + ": " + field + " is " + hex(value) + ", not 0");
        return {};
    }
    ImageResult<void> zero_bytes(size_t count, const char* field) {
        auto bytes = view_.slice(position_, count);
        if (!bytes)
            return refuse(where_ + ": ends inside its " + field);
        for (uint8_t byte : *bytes) {
            if (byte != 0)
                return refuse(where_ + ": " + field + " are not zero");
        }
        position_ += count;
        return {};
    }
    ImageResult<std::string> text(const char* field) {
        auto end = view_.find_zero(position_);
        if (!end)
            return refuse(where_ + ": " + field + " is not terminated inside its record");
        std::string value(reinterpret_cast<const char*>(view_.bytes().data()) + position_,
                          *end - position_);
        position_ = *end + 1;
        return value;
    }
    // Room for `count` items of `size` bytes each, before a vector of them is made.
    ImageResult<void> room_for(uint32_t count, size_t size, const char* what) {
        if (static_cast<uint64_t>(count) * size > view_.size() - position_)
            return refuse(where_ + ": " + std::to_string(count) + " " + what + " run past its end");
        return {};
    }

  private:
    base::ByteView view_;
    std::string where_;
    size_t position_ = 0;
};

ImageResult<Unit> decode_unit(std::span<const uint8_t> record, const std::string& where) {
    Cursor cursor(record, where);
    Unit unit;
    unit.type = TRY(cursor.u32("type reference"));
    TRY(cursor.zero_bytes(kUnitTypePadding, "bytes after the type reference"));
    unit.name = TRY(cursor.text("name"));
    unit.second_text = TRY(cursor.text("second text"));
    TRY(cursor.zero_u32("word before the position"));
    unit.left = TRY(cursor.i32("left"));
    unit.top = TRY(cursor.i32("top"));
    unit.width = TRY(cursor.i32("width"));
    unit.height = TRY(cursor.i32("height"));
    TRY(cursor.zero_u32("word after the size"));
    unit.parent = TRY(cursor.u32("parent"));
    const uint32_t child_count = TRY(cursor.u32("child count"));
    TRY(cursor.room_for(child_count, 4, "children"));
    unit.children.resize(child_count);
    for (uint32_t& child : unit.children)
        child = TRY(cursor.u32("children"));
    const uint32_t fixed = TRY(cursor.u32("fixed field"));
    if (fixed != kUnitFixedField)
        return refuse(where + ": fixed field is " + hex(fixed) + ", not 4");
    TRY(cursor.zero_u32("first word after the fixed field"));
    TRY(cursor.zero_u32("second word after the fixed field"));
    TRY(cursor.zero_bytes(1, "byte before the flags"));
    unit.flags = TRY(cursor.u32("flags"));
    TRY(cursor.zero_u32("word after the flags"));
    const uint32_t event_count = TRY(cursor.u32("event count"));
    TRY(cursor.room_for(event_count, 8, "events"));
    unit.events.resize(event_count);
    for (UnitEvent& event : unit.events) {
        event.event = TRY(cursor.i32("events"));
        event.handler = TRY(cursor.u32("events"));
    }
    std::span<const uint8_t> properties = cursor.rest();
    unit.properties.assign(properties.begin(), properties.end());
    return unit;
}

// The block of window `index` at `position`; `position` moves past it.
ImageResult<void> decode_block(std::span<const uint8_t> form, size_t& position, size_t index,
                               Window& window) {
    const std::string where = "window " + std::to_string(index);
    Cursor head(form.subspan(position), where + " block header");
    WindowBlockHeader header;
    header.reserved = TRY(head.u32("reserved word"));
    header.block_id = TRY(head.u32("block identifier"));
    header.zero_1 = TRY(head.u32("word at +8"));
    header.zero_2 = TRY(head.u32("word at +12"));
    header.unit_count = TRY(head.u32("unit count"));
    header.block_length = TRY(head.u32("block length"));
    if (header.zero_1 != 0 || header.zero_2 != 0)
        return refuse(where + ": block header words at +8 and +12 are not zero");

    auto body =
        base::ByteView(form).slice(position + WindowBlockHeader::kSize, header.block_length);
    if (!body)
        return refuse(where + ": block length " + hex(header.block_length) +
                      " runs past the form segment");
    Cursor tables(*body, where + " block");
    TRY(tables.room_for(header.unit_count, 8, "unit identifiers and record offsets"));
    std::vector<uint32_t> ids(header.unit_count);
    for (uint32_t& id : ids)
        id = TRY(tables.u32("unit identifiers"));
    std::vector<uint32_t> offsets(header.unit_count);
    for (uint32_t& offset : offsets)
        offset = TRY(tables.u32("record offsets"));

    const size_t records = tables.position();
    const base::ByteView view(*body);
    window.block_reserved = header.reserved;
    window.block_id = header.block_id;
    window.units.resize(header.unit_count);
    size_t expected = 0;  // where the records before this one end
    for (size_t j = 0; j < window.units.size(); ++j) {
        const std::string unit_where = where + " unit " + std::to_string(j);
        if (offsets[j] != expected)
            return refuse(unit_where + ": record offset " + hex(offsets[j]) +
                          " out of order (the records before it end at " + hex(expected) + ")");
        auto length = view.u32(records + expected);
        if (!length)
            return refuse(unit_where + ": record length runs past the block");
        auto record = view.slice(records + expected + 4, *length);
        if (!record)
            return refuse(unit_where + ": record of " + hex(*length) +
                          " bytes runs past the block");
        window.units[j] = TRY(decode_unit(*record, unit_where));
        window.units[j].id = ids[j];
        expected += 4 + *length;
    }
    if (records + expected != header.block_length)
        return refuse(where + ": block length " + hex(header.block_length) +
                      " does not match its records (" + hex(records + expected) + ")");
    position += WindowBlockHeader::kSize + header.block_length;
    return {};
}

void append_u32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    base::store_le32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

void append_text(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

std::vector<uint8_t> encode_unit(const Unit& unit) {
    std::vector<uint8_t> out;
    append_u32(out, unit.type);
    out.insert(out.end(), kUnitTypePadding, 0);
    append_text(out, unit.name);
    append_text(out, unit.second_text);
    append_u32(out, 0);
    append_u32(out, static_cast<uint32_t>(unit.left));
    append_u32(out, static_cast<uint32_t>(unit.top));
    append_u32(out, static_cast<uint32_t>(unit.width));
    append_u32(out, static_cast<uint32_t>(unit.height));
    append_u32(out, 0);
    append_u32(out, unit.parent);
    append_u32(out, static_cast<uint32_t>(unit.children.size()));
    for (uint32_t child : unit.children)
        append_u32(out, child);
    append_u32(out, kUnitFixedField);
    append_u32(out, 0);
    append_u32(out, 0);
    out.push_back(0);
    append_u32(out, unit.flags);
    append_u32(out, 0);
    append_u32(out, static_cast<uint32_t>(unit.events.size()));
    for (const UnitEvent& event : unit.events) {
        append_u32(out, static_cast<uint32_t>(event.event));
        append_u32(out, event.handler);
    }
    out.insert(out.end(), unit.properties.begin(), unit.properties.end());
    return out;
}

void append_block(std::vector<uint8_t>& out, const Window& window) {
    std::vector<std::vector<uint8_t>> records;
    size_t records_size = 0;
    for (const Unit& unit : window.units) {
        records.push_back(encode_unit(unit));
        records_size += 4 + records.back().size();
    }
    const WindowBlockHeader header{
        window.block_reserved,
        window.block_id,
        0,
        0,
        static_cast<uint32_t>(window.units.size()),
        static_cast<uint32_t>(8 * window.units.size() + records_size),
    };
    append_u32(out, header.reserved);
    append_u32(out, header.block_id);
    append_u32(out, header.zero_1);
    append_u32(out, header.zero_2);
    append_u32(out, header.unit_count);
    append_u32(out, header.block_length);
    for (const Unit& unit : window.units)
        append_u32(out, unit.id);
    uint32_t offset = 0;
    for (const std::vector<uint8_t>& record : records) {
        append_u32(out, offset);
        offset += static_cast<uint32_t>(4 + record.size());
    }
    for (const std::vector<uint8_t>& record : records) {
        append_u32(out, static_cast<uint32_t>(record.size()));
        out.insert(out.end(), record.begin(), record.end());
    }
}

bool holds_zero(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

}  // namespace

ImageResult<void> check_windows(std::span<const Window> windows) {
    for (size_t i = 0; i < windows.size(); ++i) {
        const Window& window = windows[i];
        const std::string where = "window " + std::to_string(i);
        if (identifier_class(window.id) != kClassWindow)
            return refuse(where + ": identifier " + hex(window.id) + " is not of class 0x52");
        if (window.block_id != 0 && identifier_class(window.block_id) != kClassBlock)
            return refuse(where + ": block identifier " + hex(window.block_id) +
                          " is neither 0 nor of class 0x19");
        if (window.units.empty())
            return refuse(where + " has no units: its own record must come first");
        const Unit& own = window.units.front();
        if (identifier_class(own.id) != kClassWindowRecord)
            return refuse(where + ": first unit " + hex(own.id) +
                          " is not the window's own record (class 0x06)");
        if (!own.name.empty())
            return refuse(where + ": the window's own record has a name");
        for (size_t j = 0; j < window.units.size(); ++j) {
            const Unit& unit = window.units[j];
            const std::string unit_where = where + " unit " + std::to_string(j);
            const uint8_t id_class = identifier_class(unit.id);
            if (id_class != kClassWindowRecord && id_class != kClassUnit)
                return refuse(unit_where + ": identifier " + hex(unit.id) +
                              " is not of class 0x06 or 0x16");
            if (holds_zero(unit.name) || holds_zero(unit.second_text))
                return refuse(unit_where + ": a text holds a zero byte");
        }
    }
    return {};
}

std::vector<uint8_t> encode_form(std::span<const Window> windows) {
    std::vector<uint8_t> out;
    append_u32(out, static_cast<uint32_t>(8 * windows.size()));
    for (const Window& window : windows)
        append_u32(out, window.id);
    for (const Window& window : windows)
        append_u32(out, window.table_reserved);
    for (const Window& window : windows)
        append_block(out, window);
    return out;
}

ImageResult<std::vector<Window>> decode_form(std::span<const uint8_t> form) {
    Cursor table(form, "form window table");
    const uint32_t length = TRY(table.u32("length"));
    if (length % 8 != 0)
        return refuse("form window table length " + hex(length) + " is not a multiple of 8");
    const uint32_t count = length / 8;
    TRY(table.room_for(count, 8, "window identifiers and reserved words"));
    std::vector<Window> windows(count);
    for (Window& window : windows)
        window.id = TRY(table.u32("window identifiers"));
    for (Window& window : windows)
        window.table_reserved = TRY(table.u32("reserved words"));

    size_t position = table.position();
    for (size_t i = 0; i < windows.size(); ++i)
        TRY(decode_block(form, position, i, windows[i]));
    if (position != form.size())
        return refuse("form segment has " + std::to_string(form.size() - position) +
                      " bytes after the last window block");
    TRY(check_windows(windows));
    return windows;
}

}  // namespace image
