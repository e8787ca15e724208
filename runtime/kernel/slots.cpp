// The slot routines: the image calls them through its thunks, in the image
// calling convention (RT_CALL), and each hands over to the runtime. Each
// marks where the program's stack ends for as long as it runs
// (ProgramCall), so that no address the program passes reaches the
// runtime's own frames below.
#include "runtime/kernel/slots.h"

#include "runtime/kernel/program_memory.h"
#include "runtime/kernel/runtime.h"

namespace kernel {

namespace {

Runtime& runtime() {
    return Runtime::instance();
}

// In the slot routine itself: its own frame is the one that counts.
#define PROGRAM_CALL const ProgramCall program_call(__builtin_frame_address(0))

RT_CALL void runtime_error(int32_t code) {
    PROGRAM_CALL;
    runtime().runtime_error(code);
}
RT_CALL intptr_t dll_call(int32_t number, int32_t count, const intptr_t* arguments) {
    PROGRAM_CALL;
    return runtime().dll_call(number, count, arguments);
}
RT_CALL int64_t library_command(int32_t position, int32_t command,
                                const RtArgumentBlock* arguments) {
    PROGRAM_CALL;
    return runtime().library_command(position, command, arguments);
}
RT_CALL int64_t kernel_command(int32_t command, const RtArgumentBlock* arguments) {
    PROGRAM_CALL;
    return runtime().kernel_command(command, arguments);
}
RT_CALL int64_t get_property(uint32_t window, uint32_t unit, int32_t property, int32_t index) {
    PROGRAM_CALL;
    return runtime().get_property(window, unit, property, index);
}
RT_CALL void set_property(uint32_t window, uint32_t unit, int32_t property, int32_t index,
                          int64_t value) {
    PROGRAM_CALL;
    runtime().set_property(window, unit, property, index, value);
}
RT_CALL void* heap_new(uint32_t size) {
    PROGRAM_CALL;
    return runtime().heap_new(size);
}
RT_CALL void* heap_resize(void* block, uint32_t size) {
    PROGRAM_CALL;
    return runtime().heap_resize(block, size);
}
RT_CALL void heap_free(void* block) {
    PROGRAM_CALL;
    runtime().heap_free(block);
}
RT_CALL void exit_program(int32_t code) {
    PROGRAM_CALL;
    runtime().exit(code);
}
RT_CALL void serve_events(int32_t) {
    PROGRAM_CALL;
    runtime().serve_events();
}
RT_CALL void load_window(uint32_t window) {
    PROGRAM_CALL;
    runtime().load_window(window);
}
RT_CALL intptr_t service(int32_t number, intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    PROGRAM_CALL;
    return runtime().service(number, a, b, c, d);
}

const void* const kSlots[RT_SLOT_COUNT] = {
    reinterpret_cast<const void*>(&runtime_error),   reinterpret_cast<const void*>(&dll_call),
    reinterpret_cast<const void*>(&library_command), reinterpret_cast<const void*>(&kernel_command),
    reinterpret_cast<const void*>(&get_property),    reinterpret_cast<const void*>(&set_property),
    reinterpret_cast<const void*>(&heap_new),        reinterpret_cast<const void*>(&heap_resize),
    reinterpret_cast<const void*>(&heap_free),       reinterpret_cast<const void*>(&exit_program),
    reinterpret_cast<const void*>(&serve_events),    reinterpret_cast<const void*>(&load_window),
    reinterpret_cast<const void*>(&service),
};

}  // namespace

const void* const* slot_routines() {
    return kSlots;
}

}  // namespace kernel
