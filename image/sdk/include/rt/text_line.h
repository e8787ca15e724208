// A GBK text put together on the stack from texts and numbers, for captions
// and messages; what does not fit in its 255 bytes is left out.
//
//   rt::TextLine<> line;        // numbers as they are: "共 3 个名字"
//   rt::TextLine<' '> values;   // each number behind a space: "颜色 255 0"
#pragma once

#include <stdint.h>

namespace rt {

template <char NumberSeparator = '\0'>
class TextLine {
  public:
    TextLine& operator<<(const char* text) {
        while (*text != '\0' && length_ + 1 < sizeof buffer_)
            buffer_[length_++] = *text++;
        buffer_[length_] = '\0';
        return *this;
    }

    TextLine& operator<<(int64_t number) {
        char digits[24];
        int32_t count = 0;
        uint64_t rest =
            number < 0 ? 0u - static_cast<uint64_t>(number) : static_cast<uint64_t>(number);
        do {
            digits[count++] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        } while (rest != 0);
        if (NumberSeparator != '\0') {
            const char separator[2] = {NumberSeparator, '\0'};
            *this << separator;
        }
        if (number < 0)
            *this << "-";
        char text[2] = {0, 0};
        while (count > 0) {
            text[0] = digits[--count];
            *this << text;
        }
        return *this;
    }

    const char* c_str() const { return buffer_; }

  private:
    char buffer_[256] = {};
    uint32_t length_ = 0;
};

}  // namespace rt
