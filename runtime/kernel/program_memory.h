// Which memory belongs to the program, so that a text or byte array it
// passes is read only where it lies (its bound image, the blocks of the
// runtime heap, and the stack of the thread that calls), a variable that the
// runtime fills is written only where the program may write (its var
// segment, a heap block, that stack), and a routine is called only in its
// code.
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
    // The bound image's code and var segments, inside the image.
    void set_segments(uintptr_t code, size_t code_size, uintptr_t var, size_t var_size) {
        code_ = {code, code + code_size};
        var_ = {var, var + var_size};
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
    // bytes) when all of it lies inside one heap block or the image (a
    // constant array); -1 otherwise.
    int64_t byte_array_length(const void* array) const;
    // Whether the `size` bytes at `at` lie inside one region the program
    // owns (its image, a heap block, the calling thread's stack).
    bool holds(const void* at, size_t size) const {
        return readable_from(address(at)) >= size && size != 0;
    }
    // Whether the `size` bytes at `at` lie inside memory the program may
    // write: its var segment, one heap block, or the calling thread's stack.
    // The rest of the image is read-only (or code).
    bool writable(const void* at, size_t size) const;
    // Whether `at` lies inside the program's code segment.
    bool in_code(const void* at) const { return code_.contains(address(at)); }

  private:
    struct Extent {
        uintptr_t begin = 0;
        uintptr_t end = 0;
        bool contains(uintptr_t at) const { return at >= begin && at < end; }
        size_t from(uintptr_t at) const { return contains(at) ? end - at : 0; }
    };

    static uintptr_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }
    // The bytes from `at` to the end of the region that holds it; 0 when
    // no region does.
    size_t readable_from(uintptr_t at) const;
    size_t readable_in_block(uintptr_t at) const;
    size_t on_stack_from(uintptr_t at) const;

    uintptr_t image_begin_ = 0;
    uintptr_t image_end_ = 0;
    Extent code_;
    Extent var_;
    std::map<uintptr_t, size_t> blocks_;  // start -> size
};

// The calling thread's stack: [low, high).
struct StackExtent {
    uintptr_t low = 0;
    uintptr_t high = 0;
};
StackExtent current_stack();

// The program's part of the calling thread's stack begins above the frame of
// the slot routine that runs: what lies below is the runtime's own frames,
// which no address the program passes may reach. Each slot routine holds one
// for as long as it runs; a slot called from a handler that a slot runs
// lowers the floor until it returns.
class ProgramCall {
  public:
    // `frame`: __builtin_frame_address(0) of the slot routine.
    explicit ProgramCall(const void* frame);
    ~ProgramCall();
    ProgramCall(const ProgramCall&) = delete;
    ProgramCall& operator=(const ProgramCall&) = delete;

    // The lowest stack address of the program's own; 0 outside any slot.
    static uintptr_t stack_floor();

  private:
    uintptr_t outer_;
};

}  // namespace kernel
