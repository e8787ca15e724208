// What the kernel accepts as a text or byte array that a program passes:
// only what starts and ends inside the image, one heap block or the stack.
#include "runtime/kernel/program_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "contract/runtime_abi.h"

namespace {

TEST(ProgramMemory, TextsMustEndInsideTheRegionThatHoldsThem) {
    kernel::ProgramMemory memory;
    std::vector<char> image(64, 'x');
    std::memcpy(image.data() + 8, "abc", 4);
    memory.set_image(reinterpret_cast<uintptr_t>(image.data()), image.size() - 1);
    std::vector<char> block(16, 'y');
    std::memcpy(block.data(), "hello", 6);
    memory.add_block(block.data(), block.size());
    std::vector<char> unterminated(16, 'z');
    memory.add_block(unterminated.data(), unterminated.size());
    char on_stack[] = "stack";
    std::vector<char> elsewhere = {'o', 'k', '\0'};

    EXPECT_EQ(memory.text_length(image.data() + 8), 3);
    EXPECT_EQ(memory.text_length(block.data()), 5);
    EXPECT_EQ(memory.text_length(block.data() + 2), 3);  // inside a block
    EXPECT_EQ(memory.text_length(on_stack), 5);
    // The terminator lies one byte past the image: not the image's text.
    image.back() = '\0';
    EXPECT_EQ(memory.text_length(image.data() + 20), -1);
    EXPECT_EQ(memory.text_length(unterminated.data()), -1);
    EXPECT_EQ(memory.text_length(elsewhere.data()), -1);  // memory the program does not own
    memory.remove_block(block.data());
    EXPECT_EQ(memory.text_length(block.data()), -1);  // released
}

TEST(ProgramMemory, ByteArraysMustFitTheirHeapBlock) {
    kernel::ProgramMemory memory;
    struct Case {
        uint32_t dimensions, count;
        size_t block_size;
        int64_t expected;
    };
    const Case cases[] = {
        {1, 4, sizeof(RtArrayHeader) + 4, 4},
        {1, 0, sizeof(RtArrayHeader), 0},
        {1, 5, sizeof(RtArrayHeader) + 4, -1},            // count beyond the block
        {1, 0xFFFFFFFFu, sizeof(RtArrayHeader) + 4, -1},  // count that would wrap
        {2, 1, sizeof(RtArrayHeader) + 4, -1},            // not a one-dimensional array
        {1, 0, sizeof(RtArrayHeader) - 1, -1},            // no room for the header
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> block(std::max(c.block_size, sizeof(RtArrayHeader)));
        const RtArrayHeader header{c.dimensions, c.count};
        std::memcpy(block.data(), &header, sizeof header);
        memory.add_block(block.data(), c.block_size);
        EXPECT_EQ(memory.byte_array_length(block.data()), c.expected)
            << c.dimensions << " " << c.count << " " << c.block_size;
        memory.remove_block(block.data());
    }
    uint8_t on_stack[16] = {1, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(memory.byte_array_length(on_stack), -1);  // no array of the program lives there

    // A constant array of the image: header and elements inside the image.
    std::vector<uint8_t> image(64);
    const RtArrayHeader header{1, 8};
    std::memcpy(image.data() + 40, &header, sizeof header);
    memory.set_image(reinterpret_cast<uintptr_t>(image.data()), image.size());
    EXPECT_EQ(memory.byte_array_length(image.data() + 40), 8);   // ends at the image's end
    EXPECT_EQ(memory.byte_array_length(image.data() + 41), -1);  // count runs past it
}

// Where the runtime writes a variable for the program: its var segment, a
// heap block, its stack; never the rest of the image, which is read-only.
// A routine is called only in the code segment.
TEST(ProgramMemory, VariablesOnlyWhereTheProgramWritesRoutinesOnlyInCode) {
    kernel::ProgramMemory memory;
    std::vector<uint8_t> image(4 * 64);
    const auto base = reinterpret_cast<uintptr_t>(image.data());
    uint8_t* const code = image.data() + 64;
    uint8_t* const var = image.data() + 128;
    memory.set_image(base, image.size());
    memory.set_segments(base + 64, 32, base + 128, 16);
    std::vector<uint8_t> block(8);
    memory.add_block(block.data(), block.size());
    uint32_t on_stack = 0;

    EXPECT_TRUE(memory.writable(var, 16));
    EXPECT_FALSE(memory.writable(var + 8, 16));      // runs past the var segment
    EXPECT_FALSE(memory.writable(image.data(), 4));  // const
    EXPECT_FALSE(memory.writable(code, 4));
    EXPECT_FALSE(memory.writable(var + 16, 4));  // the image beyond var: not the program's
    EXPECT_TRUE(memory.writable(block.data(), 8));
    EXPECT_FALSE(memory.writable(block.data() + 4, 8));  // runs past the block
    EXPECT_TRUE(memory.writable(&on_stack, sizeof on_stack));
    EXPECT_FALSE(memory.writable(var, 0));
    EXPECT_TRUE(memory.holds(image.data(), 4));  // still readable, as texts are

    EXPECT_TRUE(memory.in_code(code));
    EXPECT_TRUE(memory.in_code(code + 31));
    EXPECT_FALSE(memory.in_code(code + 32));
    EXPECT_FALSE(memory.in_code(image.data()));
    EXPECT_FALSE(memory.in_code(block.data()));
}

// While a slot runs, the stack below its frame is the runtime's: neither
// read nor written for the program; after it returns, the outer floor holds.
[[gnu::noinline]] void below_a_slot(const kernel::ProgramMemory& memory, const char* above) {
    char below[] = "runtime";
    const kernel::ProgramCall call(__builtin_frame_address(0));
    EXPECT_EQ(memory.text_length(above), 7);
    EXPECT_EQ(memory.text_length(below), -1);
    uint32_t variable = 0;
    EXPECT_FALSE(memory.writable(&variable, sizeof variable));
}

TEST(ProgramMemory, TheStackBelowTheSlotIsNotTheProgramsWhileItRuns) {
    kernel::ProgramMemory memory;
    char program[] = "program";
    EXPECT_EQ(kernel::ProgramCall::stack_floor(), 0u);
    below_a_slot(memory, program);
    EXPECT_EQ(kernel::ProgramCall::stack_floor(), 0u);
    EXPECT_EQ(memory.text_length(program), 7);
}

// The main thread's stack extent is read once and kept; another thread's
// texts are still checked against that thread's own stack.
TEST(ProgramMemory, EachThreadsTextsAreCheckedAgainstItsOwnStack) {
    kernel::ProgramMemory memory;
    char on_main[] = "main";
    EXPECT_EQ(memory.text_length(on_main), 4);
    std::thread([&] {
        char on_thread[] = "thread";
        EXPECT_EQ(memory.text_length(on_thread), 6);
        EXPECT_EQ(memory.text_length(on_main), -1);
    }).join();
    EXPECT_EQ(memory.text_length(on_main), 4);
}

}  // namespace
