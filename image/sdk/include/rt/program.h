// What every program provides to the start routine.
#pragma once

#include <stdint.h>

#include "contract/runtime_abi.h"

extern "C" {
// Fills the globals that hold objects (may be left undefined: nothing to do).
RT_CALL void app_initialise_globals();
// Releases every heap block that a global holds; run once when the program
// ends, however it ends (may be left undefined).
RT_CALL void app_release_globals();
// The identifier of the window the start routine opens; written by the
// image linker from the description's `start` item.
RT_CALL uint32_t app_start_window();
}
