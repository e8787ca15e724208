// Objects by ProgID, held by the runtime: create one, call its methods and
// read its properties by name.
//
//   rt::Object request = rt::Object::create("MSXML2.ServerXMLHTTP");
//   request.call("open", rt::text("GET"), rt::text(address), rt::logical(true));
//   int64_t status = request.get("status");
//
// A result is what the member gives: 0 for nothing, an integer or a logical
// (1 or 0) as its value, a number truncated to an integer, a text or a byte
// array as a new heap block that the caller takes over (rt::Text::adopt,
// rt::Array::adopt); RT_OBJECT_FAILED when the call failed. The object is
// released when its holder goes.
#pragma once

#include <stdint.h>

#include "rt/args.h"
#include "rt/slots.h"

namespace rt {

inline bool failed(int64_t result) {
    return result == RT_OBJECT_FAILED;
}

class Object {
  public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    Object(Object&& other) : handle_(other.handle_) { other.handle_ = 0; }
    Object& operator=(Object&& other) {
        if (this != &other) {
            release();
            handle_ = other.handle_;
            other.handle_ = 0;
        }
        return *this;
    }
    ~Object() { release(); }

    // A new object of the class `prog_id`; one that holds none when the
    // system has no such class.
    static Object create(const char* prog_id) {
        auto block = rt::arguments(rt::text(prog_id));
        return Object(
            static_cast<int32_t>(rt_kernel_command(RT_KERNEL_OBJECT_CREATE, block.get())));
    }

    bool valid() const { return handle_ != 0; }
    int32_t handle() const { return handle_; }

    // The method `name` with the arguments (rt::text, rt::integer, ...).
    template <typename... Items>
    int64_t call(const char* name, Items... items) const {
        auto block = rt::arguments(rt::integer(handle_), rt::text(name), items...);
        return rt_kernel_command(RT_KERNEL_OBJECT_CALL, block.get());
    }

    // The property `name`.
    int64_t get(const char* name) const {
        auto block = rt::arguments(rt::integer(handle_), rt::text(name));
        return rt_kernel_command(RT_KERNEL_OBJECT_GET, block.get());
    }

    void release() {
        if (handle_ == 0)
            return;
        auto block = rt::arguments(rt::integer(handle_));
        rt_kernel_command(RT_KERNEL_OBJECT_RELEASE, block.get());
        handle_ = 0;
    }

  private:
    explicit Object(int32_t handle) : handle_(handle) {}
    int32_t handle_ = 0;
};

}  // namespace rt
