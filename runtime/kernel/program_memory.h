// Which memory belongs to the program, so that a text or byte array it
// passes is read only where it lies: its bound image, the blocks of the
// runtime heap, and the stack of the thread that calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace kernel {

class ProgramMemory {
  public:
    void set_image(uintptr_t begin, size_t size) {
        image_begin_ = begin;
        image_end_ = begin + size;
    }

    void add_block(const void* block, size_t size) { blocks_[address(block)] = size; }
    // False when `block` is not the start of a heap block.
    bool remove_block(const void* block) { return blocks_.erase(address(block)) != 0; }
    bool is_block(const void* block) const { return blocks_.count(address(block)) != 0; }
    template <typename Visit>
    void for_each_block(Visit visit) const {
        for (const auto& [block, size] : blocks_)
            visit(reinterpret_cast<void*>(block));
    }
    void clear_blocks() { blocks_.clear(); }

    // The length of the zero-terminated text at `text` when it starts and
    // ends inside one region the program owns; -1 otherwise.
    int64_t text_length(const void* text) const;
    // The element count of the byte array at `array` (header, then that many
    // bytes) when all of it lies inside one heap block; -1 otherwise.
    int64_t byte_array_length(const void* array) const;
    // Whether the `size` bytes at `at` lie inside one region the program
    // owns (its image, a heap block, the calling thread's stack).
    bool holds(const void* at, size_t size) const {
        return readable_from(address(at)) >= size && size != 0;
    }
    // Whether `at` lies inside the program's bound image.
    bool in_image(const void* at) const {
        return address(at) >= image_begin_ && address(at) < image_end_;
    }

  private:
    static uintptr_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }
    // The bytes from `at` to the end of the region that holds it; 0 when
    // no region does.
    size_t readable_from(uintptr_t at) const;
    size_t readable_in_block(uintptr_t at) const;

    uintptr_t image_begin_ = 0;
    uintptr_t image_end_ = 0;
    std::map<uintptr_t, size_t> blocks_;  // start -> size
};

// The calling thread's stack: [low, high).
struct StackExtent {
    uintptr_t low = 0;
    uintptr_t high = 0;
};
StackExtent current_stack();

}  // namespace kernel
