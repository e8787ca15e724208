// Objects that a program creates by ProgID and drives by the names of their
// methods and properties (RT_KERNEL_OBJECT_*): on Windows the system's own
// COM objects through IDispatch; elsewhere the runtime's own
// implementations of the few that programs use.
//
// Member names match without regard to A-Z letter case, as COM's do. Texts
// are GBK on both sides of this interface; each system converts at its edge.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error_or.h"
#include "base/error.h"

namespace kernel {

// A value passed to a member or given back by one.
struct ObjectValue {
    enum class Kind { None, Integer, Logical, Number, Text, Bytes };

    Kind kind = Kind::None;
    int64_t integer = 0;  // Integer; Logical as 1 or 0
    double number = 0;    // Number
    std::string text;     // Text, GBK
    std::vector<uint8_t> bytes;

    static ObjectValue none() { return {}; }
    static ObjectValue of_integer(int64_t value) {
        ObjectValue v;
        v.kind = Kind::Integer;
        v.integer = value;
        return v;
    }
    static ObjectValue of_logical(bool value) {
        ObjectValue v;
        v.kind = Kind::Logical;
        v.integer = value ? 1 : 0;
        return v;
    }
    static ObjectValue of_number(double value) {
        ObjectValue v;
        v.kind = Kind::Number;
        v.number = value;
        return v;
    }
    static ObjectValue of_text(std::string value) {
        ObjectValue v;
        v.kind = Kind::Text;
        v.text = std::move(value);
        return v;
    }
    static ObjectValue of_bytes(std::vector<uint8_t> value) {
        ObjectValue v;
        v.kind = Kind::Bytes;
        v.bytes = std::move(value);
        return v;
    }
};

// Why a member call gave no value: the causes UnknownMember,
// WrongArguments, Failed and NotImplemented.
using ObjectError = base::Error;

class Object {
  public:
    virtual ~Object() = default;
    // Runs the method `name` with `arguments`.
    virtual base::ErrorOr<ObjectValue, ObjectError> call(
        std::string_view name, std::span<const ObjectValue> arguments) = 0;
    // Reads the property `name`.
    virtual base::ErrorOr<ObjectValue, ObjectError> get(std::string_view name) = 0;
};

// A new object of the class `prog_id` (A-Z case ignored), or null when the
// system has no such class or it cannot be created.
std::unique_ptr<Object> create_object(std::string_view prog_id);

// Whether two member names or ProgIDs are the same, A-Z case ignored.
inline bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

}  // namespace kernel
