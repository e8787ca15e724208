// A growable GBK text on the runtime's heap, for paths and file contents that
// may be longer than a line (rt::TextLine keeps 255 bytes). Freestanding: for
// program images.
#pragma once

#include <stdint.h>

#include "rt/slots.h"

namespace common {

class TextBuffer {
  public:
    TextBuffer() = default;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    ~TextBuffer() {
        if (data_ != nullptr)
            rt_heap_free(data_);
    }

    TextBuffer& append(const char* text, uint32_t length) {
        reserve(length_ + length);
        for (uint32_t i = 0; i < length; ++i)
            data_[length_ + i] = text[i];
        length_ += length;
        data_[length_] = '\0';
        return *this;
    }
    TextBuffer& operator<<(const char* text) { return append(text, length_of(text)); }
    TextBuffer& operator<<(char c) { return append(&c, 1); }
    TextBuffer& operator<<(int64_t number) {
        char digits[24];
        uint32_t count = 0;
        uint64_t rest =
            number < 0 ? 0u - static_cast<uint64_t>(number) : static_cast<uint64_t>(number);
        do {
            digits[sizeof digits - 1 - count++] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        } while (rest != 0);
        if (number < 0)
            *this << '-';
        return append(digits + sizeof digits - count, count);
    }

    // Keeps the first `length` bytes.
    void truncate(uint32_t length) {
        if (length < length_) {
            length_ = length;
            data_[length_] = '\0';
        }
    }
    void clear() { truncate(0); }

    const char* c_str() const { return data_ != nullptr ? data_ : ""; }
    uint32_t length() const { return length_; }
    bool empty() const { return length_ == 0; }

    static uint32_t length_of(const char* text) {
        uint32_t length = 0;
        while (text[length] != '\0')
            ++length;
        return length;
    }

  private:
    void reserve(uint32_t length) {
        if (data_ != nullptr && length < capacity_)
            return;
        uint32_t capacity = capacity_ < 64 ? 64 : capacity_;
        while (capacity <= length)
            capacity *= 2;
        char* data = static_cast<char*>(rt_heap_new(capacity));
        for (uint32_t i = 0; i < length_; ++i)
            data[i] = data_[i];
        data[length_] = '\0';
        if (data_ != nullptr)
            rt_heap_free(data_);
        data_ = data;
        capacity_ = capacity;
    }

    char* data_ = nullptr;
    uint32_t length_ = 0;
    uint32_t capacity_ = 0;
};

}  // namespace common
