// Calling the Windows functions that the program's description declares
// (`dll alias "library" Function`): each argument is passed as one
// pointer-sized value, as the system takes them.
//
//   rt::call_dll(RT_DLL(round_region), 0, 0, width, height, 5, 5);
#pragma once

#include <stdint.h>

#include "rt/slots.h"

namespace rt {

namespace dll_detail {

template <typename T>
intptr_t pass(T* value) {
    return reinterpret_cast<intptr_t>(value);
}
template <typename T>
intptr_t pass(T value) {
    return static_cast<intptr_t>(value);
}

}  // namespace dll_detail

// Calls declaration `number` (RT_DLL(alias) at the call site) and gives its
// pointer-sized result.
template <typename... Arguments>
intptr_t call_dll(uint32_t number, Arguments... arguments) {
    const intptr_t list[sizeof...(Arguments) + 1] = {dll_detail::pass(arguments)..., 0};
    return rt_dll_call(static_cast<int32_t>(number), static_cast<int32_t>(sizeof...(Arguments)),
                       list);
}

}  // namespace rt
