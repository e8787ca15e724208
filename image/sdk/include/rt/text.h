// Texts and byte arrays on the runtime's heap. What a command or a property
// read returns belongs to the caller: these types take it over and release it
// through the heap slot when they go.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "rt/array.h"
#include "rt/slots.h"

namespace rt {

// A zero-terminated GBK text owned on the runtime heap.
class Text {
  public:
    Text() = default;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    Text(Text&& other) : data_(other.release()) {}
    Text& operator=(Text&& other) {
        if (this != &other) {
            reset();
            data_ = other.release();
        }
        return *this;
    }
    ~Text() { reset(); }

    // Takes over a heap text that a command returned (may be null: empty).
    static Text adopt(intptr_t heap_text) { return Text(reinterpret_cast<char*>(heap_text)); }

    // A heap copy of `text`.
    static Text copy(const char* text) {
        size_t length = 0;
        while (text[length] != '\0')
            ++length;
        char* data = static_cast<char*>(rt_heap_new(static_cast<uint32_t>(length + 1)));
        for (size_t i = 0; i <= length; ++i)
            data[i] = text[i];
        return Text(data);
    }

    const char* c_str() const { return data_ != nullptr ? data_ : ""; }
    uint32_t length() const {
        uint32_t length = 0;
        while (c_str()[length] != '\0')
            ++length;
        return length;
    }
    bool empty() const { return c_str()[0] == '\0'; }
    bool operator==(const char* other) const {
        const char* mine = c_str();
        while (*mine != '\0' && *mine == *other) {
            ++mine;
            ++other;
        }
        return *mine == *other;
    }

    // Gives up ownership: the caller releases the block.
    char* release() {
        char* data = data_;
        data_ = nullptr;
        return data;
    }
    void reset() {
        if (data_ != nullptr)
            rt_heap_free(data_);
        data_ = nullptr;
    }

  private:
    explicit Text(char* data) : data_(data) {}
    char* data_ = nullptr;
};

// A byte array owned on the runtime heap: the array block of bytes.
using Bytes = Array<uint8_t>;

}  // namespace rt
