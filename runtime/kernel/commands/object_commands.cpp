// Objects by ProgID (RT_KERNEL_OBJECT_*): the program holds each object by
// an integer handle, calls its methods and reads its properties by name.
//
// Arguments after the member name become the member's arguments: integers,
// logicals, numbers, texts and byte arrays. Results: nothing reads as 0,
// integers and logicals (1 or 0) as their values, numbers truncated toward
// zero, texts and byte arrays as new heap blocks the program releases; a call
// that fails in any way (no such member, arguments it cannot take, the
// member's own failure) gives RT_OBJECT_FAILED.
//
// A handle is never given twice, so a released one cannot reach a newer
// object; releasing handle 0 does nothing, and any other handle the program
// does not hold ends the program, as releasing a foreign heap block does.
#include <cmath>
#include <limits>
#include <map>

#include "runtime/kernel/commands/kernel_commands.h"
#include "runtime/kernel/runtime.h"
#include "runtime/kernel/services/object.h"

namespace kernel {

namespace {

struct ObjectTable {
    std::map<int32_t, std::unique_ptr<Object>> held;
    int32_t next = 1;
};

// Never destroyed: objects a program still holds at its end go with the
// process rather than being torn down while the system shuts it down.
ObjectTable& table() {
    static ObjectTable* objects = new ObjectTable;
    return *objects;
}

Object& held_object(const Arguments& a) {
    const int32_t handle = a.integer(0);
    auto found = table().held.find(handle);
    if (found == table().held.end())
        a.runtime().fatal("The object handle " + std::to_string(handle) +
                          " is not one the program holds.");
    return *found->second;
}

ObjectValue argument(const Arguments& a, size_t i) {
    const RtArgument& raw = a.raw(i);
    switch (raw.type) {
        case RT_TYPE_INT32:
            return ObjectValue::of_integer(a.integer(i));
        case RT_TYPE_BOOL:
            return ObjectValue::of_logical(a.logical(i));
        case RT_TYPE_FLOAT64: {
            const uint64_t bits = raw.low | uint64_t{raw.high} << 32;
            double value;
            static_assert(sizeof value == sizeof bits);
            __builtin_memcpy(&value, &bits, sizeof value);
            return ObjectValue::of_number(value);
        }
        case RT_TYPE_TEXT:
            return ObjectValue::of_text(a.text(i));
        case RT_TYPE_BYTES: {
            const std::span<const uint8_t> bytes = a.bytes(i);
            return ObjectValue::of_bytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        }
    }
    a.wrong(i, "an integer, logical, number, text or byte array");
}

int64_t result(Runtime& runtime, const base::ErrorOr<ObjectValue, ObjectError>& outcome) {
    if (outcome.is_error())
        return RT_OBJECT_FAILED;
    const ObjectValue& value = outcome.value();
    constexpr int64_t kLowest = std::numeric_limits<int64_t>::min() + 1;  // above RT_OBJECT_FAILED
    switch (value.kind) {
        case ObjectValue::Kind::None:
            return 0;
        case ObjectValue::Kind::Integer:
        case ObjectValue::Kind::Logical:
            return std::max(value.integer, kLowest);
        case ObjectValue::Kind::Number:
            if (std::isnan(value.number))
                return 0;
            if (value.number <= static_cast<double>(kLowest))
                return kLowest;
            if (value.number >= 0x1p63)
                return std::numeric_limits<int64_t>::max();
            return static_cast<int64_t>(value.number);
        case ObjectValue::Kind::Text:
            return runtime.new_text(value.text);
        case ObjectValue::Kind::Bytes:
            return runtime.new_byte_array(value.bytes);
    }
    return RT_OBJECT_FAILED;
}

int64_t create(const Arguments& a) {
    std::unique_ptr<Object> object = create_object(a.text(0));
    if (object == nullptr)
        return 0;
    ObjectTable& objects = table();
    if (objects.next == std::numeric_limits<int32_t>::max())
        return 0;
    const int32_t handle = objects.next++;
    objects.held.emplace(handle, std::move(object));
    return handle;
}

int64_t release(const Arguments& a) {
    if (a.integer(0) == 0)
        return 0;
    held_object(a);
    table().held.erase(a.integer(0));
    return 0;
}

int64_t call(const Arguments& a) {
    Object& object = held_object(a);
    const std::string name = a.text(1);
    std::vector<ObjectValue> arguments;
    arguments.reserve(a.count() - 2);
    for (size_t i = 2; i < a.count(); ++i)
        arguments.push_back(argument(a, i));
    return result(a.runtime(), object.call(name, arguments));
}

int64_t get(const Arguments& a) {
    Object& object = held_object(a);
    return result(a.runtime(), object.get(a.text(1)));
}

constexpr KernelCommand kCommands[] = {
    {RT_KERNEL_OBJECT_CREATE, 1, false, create},
    {RT_KERNEL_OBJECT_RELEASE, 1, false, release},
    {RT_KERNEL_OBJECT_CALL, 2, true, call},
    {RT_KERNEL_OBJECT_GET, 2, false, get},
};

}  // namespace

std::span<const KernelCommand> object_commands() {
    return kCommands;
}

}  // namespace kernel
