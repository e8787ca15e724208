// Values that the image linker must find again at every place the code uses
// them: window and unit identifiers, DLL declaration numbers, support
// library positions and unit type references. Each is written as a reference
// to a reserved marker symbol; the linker resolves the symbol from its name,
// writes the value into the 32-bit immediate and records the site in the
// matching relocation list, so the runtime can rewrite it at load time.
//
//   RT_ID(52010001)             a window or unit identifier (hexadecimal)
//   RT_DLL(call_window_proc)    the number of a DLL declaration, by its alias
//   RT_LIBRARY(eCompress)       the 0-based position of a support library
//   RT_TYPE(krnln, 000B)        a unit type reference: library, type number
//
// A marker used anywhere but as an immediate in code is a link error.
#pragma once

#include <stdint.h>

// Each use declares its own block-scope name: declarations sharing one name
// would be one entity, and all but one asm label would be lost.
#define RT_MARKER_JOIN2_(a, b) a##b
#define RT_MARKER_JOIN_(a, b) RT_MARKER_JOIN2_(a, b)
#define RT_MARKER_AS_(name, symbol)                               \
    __extension__({                                               \
        extern const char name[] __asm__(symbol);                 \
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name)); \
    })
#define RT_MARKER_VALUE_(symbol) RT_MARKER_AS_(RT_MARKER_JOIN_(rt_marker_, __COUNTER__), symbol)

#define RT_ID(hex) RT_MARKER_VALUE_("__rtm_id_" #hex)
#define RT_DLL(alias) RT_MARKER_VALUE_("__rtm_dll_" #alias)
#define RT_LIBRARY(name) RT_MARKER_VALUE_("__rtm_lib_" #name)
#define RT_TYPE(library, hex) RT_MARKER_VALUE_("__rtm_type_" #library "_" #hex)
