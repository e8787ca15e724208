// Addresses that the runtime must refuse (see checks.desc): each handler
// passes one, and the runtime ends the program with a message naming what
// was wrong. The window's creation passes good ones and reports what came
// back.
#include "rt/args.h"
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text.h"
#include "rt/text_line.h"

namespace {

using Line = rt::TextLine<' '>;

// No region of the program: the page at 4096 is never mapped.
constexpr intptr_t kNowhere = 0x1000;

// A picture as a constant of the image: header, then its bytes.
struct ConstantPicture {
    RtArrayHeader header;
    uint8_t bytes[3];
};
const ConstantPicture kPicture = {{1, 3}, {7, 8, 9}};
// A variable the program cannot write: it lies in the const segment.
const uint32_t kConstantState[1] = {0};

uint32_t g_state;

intptr_t address(const void* at) {
    return reinterpret_cast<intptr_t>(at);
}

void set(uint32_t unit, int32_t property, int64_t value, int32_t index = -1) {
    rt_set_property(RT_ID(52010001), unit, property, index, value);
}

void report(const Line& line) {
    set(RT_ID(16010001), RT_PROPERTY_TEXT, address(line.c_str()));
}

// A heap block of `size` bytes, none of them zero.
char* filled_block(uint32_t size) {
    auto* block = static_cast<char*>(rt_heap_new(size));
    for (uint32_t i = 0; i < size; ++i)
        block[i] = 'x';
    return block;
}

struct Rect {
    int32_t left, top, right, bottom;
};

}  // namespace

extern "C" {

RT_CALL void created() {
    // A constant picture of the image, read back as a heap copy.
    set(RT_ID(16010003), RT_PROPERTY_PICTURE, address(&kPicture));
    auto* back = reinterpret_cast<RtArrayHeader*>(static_cast<intptr_t>(
        rt_get_property(RT_ID(52010001), RT_ID(16010003), RT_PROPERTY_PICTURE, -1)));
    Line picture;
    picture << "图片" << int64_t{back->count} << int64_t{reinterpret_cast<uint8_t*>(back + 1)[2]};
    rt_heap_free(back);
    report(picture);

    // Variables on the program's own stack, written by the runtime.
    RtArrayHeader* array = nullptr;
    rt_service(RT_SERVICE_EMPTY_ARRAY, address(&array), 4, 0, 0);
    uint32_t state = 0;
    rt::Text none = rt::Text::adopt(
        rt_service(RT_SERVICE_FIND_FILE, address("*.none-such"), 0, 0, address(&state)));
    Line stack;
    stack << "栈" << int64_t{array->count} << int64_t{none.length()} << int64_t{state};
    rt_heap_free(array);
    report(stack);

    // SetRect refuses to write into the const segment, and writes on the
    // stack.
    Rect rect = {};
    const intptr_t into_const[5] = {address(kConstantState), 1, 2, 3, 4};
    const intptr_t into_stack[5] = {address(&rect), 1, 2, 3, 4};
    Line rects;
    rects << "矩形" << static_cast<int64_t>(rt_dll_call(RT_DLL(set_rect), 5, into_const))
          << static_cast<int64_t>(rt_dll_call(RT_DLL(set_rect), 5, into_stack))
          << int64_t{rect.bottom};
    report(rects);
}

RT_CALL void pattern_outside() {
    rt_service(RT_SERVICE_FIND_FILE, kNowhere, 0, 0, address(&g_state));
}

RT_CALL void pattern_unterminated() {
    rt_service(RT_SERVICE_FIND_FILE, address(filled_block(4)), 0, 0, address(&g_state));
}

RT_CALL void state_in_const() {
    rt_service(RT_SERVICE_FIND_FILE, address("*"), 0, 0, address(kConstantState));
}

RT_CALL void state_below_stack() {
    // Inside the thread's stack, but below the caller: the runtime's frames.
    uint32_t here = 0;
    rt_service(RT_SERVICE_FIND_FILE, address("*"), 0, 0, address(&here) - 1024);
}

RT_CALL void end_find_in_code() {
    rt_service(RT_SERVICE_END_FIND, address(reinterpret_cast<const void*>(&created)), 0, 0, 0);
}

RT_CALL void array_variable_too_small() {
    // Room for 4 bytes; the variable holds an address.
    rt_service(RT_SERVICE_EMPTY_ARRAY, address(rt_heap_new(4)), 4, 0, 0);
}

RT_CALL void release_outside_code() {
    rt_service(RT_SERVICE_ON_RELEASE, address(&kPicture), 0, 0, 0);
}

RT_CALL void unknown_service() {
    rt_service(9, 0, 0, 0, 0);
}

RT_CALL void text_outside() {
    set(RT_ID(16010001), RT_PROPERTY_TEXT, kNowhere);
}

RT_CALL void row_unterminated() {
    set(RT_ID(16010002), RT_PROPERTY_ITEM, address(filled_block(8)), 0);
}

RT_CALL void picture_past_block() {
    auto* array = static_cast<RtArrayHeader*>(rt_heap_new(sizeof(RtArrayHeader) + 4));
    array->dimensions = 1;
    array->count = 5;
    set(RT_ID(16010003), RT_PROPERTY_PICTURE, address(array));
}

RT_CALL void block_outside() {
    rt_kernel_command(1, reinterpret_cast<const RtArgumentBlock*>(kNowhere));
}

RT_CALL void block_past_block() {
    // One argument's room, two counted.
    auto* block = static_cast<RtArgumentBlock*>(rt_heap_new(sizeof(uint32_t) + sizeof(RtArgument)));
    block->count = 2;
    rt_kernel_command(1, block);
}

RT_CALL void dll_arguments_outside() {
    rt_dll_call(RT_DLL(set_rect), 5, reinterpret_cast<const intptr_t*>(kNowhere));
}

}  // extern "C"
