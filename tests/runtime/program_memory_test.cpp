// What the kernel accepts as a text or byte array that a program passes:
// only what starts and ends inside the image, one heap block or the stack.
#include "runtime/kernel/program_memory.h"

#include <gtest/gtest.h>

#include <cstring>
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
    EXPECT_EQ(memory.byte_array_length(on_stack), -1);  // arrays live on the heap only
}

}  // namespace
