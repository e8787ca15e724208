// The runtime's slots as the image's code calls them: each routine below is a
// thunk that jumps through its entry of the runtime slot table. The linker
// keeps only the thunks that the code uses, at the end of the code segment.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "contract/runtime_abi.h"

extern "C" {
[[noreturn]] RT_CALL void rt_runtime_error(int32_t code);
RT_CALL intptr_t rt_dll_call(int32_t number, int32_t count, const intptr_t* arguments);
RT_CALL int64_t rt_library_command(int32_t library_position, int32_t command,
                                   const RtArgumentBlock* arguments);
RT_CALL int64_t rt_kernel_command(int32_t command, const RtArgumentBlock* arguments);
RT_CALL int64_t rt_get_property(uint32_t window, uint32_t unit, int32_t property, int32_t index);
RT_CALL void rt_set_property(uint32_t window, uint32_t unit, int32_t property, int32_t index,
                             int64_t value);
RT_CALL void* rt_heap_new(uint32_t size);
RT_CALL void* rt_heap_resize(void* block, uint32_t size);
RT_CALL void rt_heap_free(void* block);
[[noreturn]] RT_CALL void rt_exit(int32_t exit_code);
RT_CALL void rt_serve_events(int32_t zero);
RT_CALL void rt_load_window(uint32_t window);
RT_CALL intptr_t rt_service(int32_t service, intptr_t a, intptr_t b, intptr_t c, intptr_t d);
}
