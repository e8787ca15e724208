#pragma once

#include "contract/runtime_abi.h"

namespace kernel {

// The routine behind each slot, by slot index (slot / 4).
const void* const* slot_routines();

}  // namespace kernel
