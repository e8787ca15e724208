# Slot thunks of x86-64 images: an absolute indirect jump through the slot
# table entry (8 bytes per slot, so the operand is twice the slot value).
# One section per thunk, so that the link keeps only the thunks in use.
.macro thunk name, slot
    .section .rtthunk.\slot,"ax",@progbits
    .globl \name
    .type \name,@function
\name:
    jmp *__rt_slot_table + 2 * \slot
.endm

thunk rt_runtime_error,   0x00
thunk rt_dll_call,        0x04
thunk rt_library_command, 0x08
thunk rt_kernel_command,  0x0C
thunk rt_get_property,    0x10
thunk rt_set_property,    0x14
thunk rt_heap_new,        0x18
thunk rt_heap_resize,     0x1C
thunk rt_heap_free,       0x20
thunk rt_exit,            0x24
thunk rt_serve_events,    0x28
thunk rt_load_window,     0x2C
thunk rt_service,         0x30

.section .note.GNU-stack,"",@progbits
