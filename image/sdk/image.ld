/* Links an image's objects into the segment layout of a bound image: const,
   form, help, code and var, each at the next 4096-byte boundary, so that
   position-relative references between them hold once bound. The image
   linker reads the result (with --emit-relocs) and writes the image. */
ENTRY(rt_start)

SECTIONS
{
    . = 0x10000000;
    .const : {
        *(.rodata .rodata.*)
        *(.data.rel.ro .data.rel.ro.*)
        . = ALIGN(8);
        __rt_init_array_start = .;
        KEEP(*(SORT_BY_INIT_PRIORITY(.init_array.*)))
        KEEP(*(.init_array .ctors))
        __rt_init_array_end = .;
    }
    . = ALIGN(4096);
    .form : { KEEP(*(.form)) }
    . = ALIGN(4096);
    .help : { KEEP(*(.help)) }
    . = ALIGN(4096);
    .code : {
        *(.text .text.*)
        KEEP(*(.rtstart))
        *(SORT(.rtthunk.*))
    }
    . = ALIGN(4096);
    .var (NOLOAD) : { *(.bss .bss.*) *(COMMON) }
    /* Initialised writable data has no place in an image: the linker
       refuses an image whose .data is not empty. */
    .data : { *(.data .data.*) *(.tdata .tdata.*) *(.tbss .tbss.*) }
    /DISCARD/ : { *(.comment) *(.note .note.*) *(.eh_frame .eh_frame_hdr) *(.fini_array .fini_array.*) *(.dtors) }
}
