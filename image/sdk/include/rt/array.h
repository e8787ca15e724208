// Arrays as the runtime keeps them: one heap block holding the dimension
// count (1), the element count, then the elements. Indexes start at 1; an
// index below 1 or above the count is a fatal run-time error (4 and 1).
#pragma once

#include <stdint.h>

#include "rt/slots.h"

namespace rt {

template <typename T>
class Array {
  public:
    Array() = default;
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    Array(Array&& other) : block_(other.release()) {}
    Array& operator=(Array&& other) {
        if (this != &other) {
            reset();
            block_ = other.release();
        }
        return *this;
    }
    ~Array() { reset(); }

    // Takes over an array block that a command returned (may be null: empty).
    static Array adopt(intptr_t block) { return Array(reinterpret_cast<RtArrayHeader*>(block)); }

    // A new array of `count` zero elements.
    static Array of_size(uint32_t count) {
        const uint32_t size = static_cast<uint32_t>(sizeof(RtArrayHeader) + sizeof(T) * count);
        auto* block = static_cast<RtArrayHeader*>(rt_heap_new(size));
        uint8_t* bytes = reinterpret_cast<uint8_t*>(block);
        for (uint32_t i = 0; i < size; ++i)
            bytes[i] = 0;
        block->dimensions = 1;
        block->count = count;
        return Array(block);
    }

    uint32_t count() const { return block_ != nullptr ? block_->count : 0; }

    // Element `index`, counted from 1.
    T& operator[](int32_t index) {
        if (index < 1)
            rt_runtime_error(RT_ERROR_INDEX_BELOW_ONE);
        if (static_cast<uint32_t>(index) > count())
            rt_runtime_error(RT_ERROR_INDEX_ABOVE_COUNT);
        return elements()[index - 1];
    }

    T* elements() { return reinterpret_cast<T*>(block_ + 1); }
    const void* block() const { return block_; }

    RtArrayHeader* release() {
        RtArrayHeader* block = block_;
        block_ = nullptr;
        return block;
    }
    void reset() {
        if (block_ != nullptr)
            rt_heap_free(block_);
        block_ = nullptr;
    }

  private:
    explicit Array(RtArrayHeader* block) : block_(block) {}
    RtArrayHeader* block_ = nullptr;
};

}  // namespace rt
