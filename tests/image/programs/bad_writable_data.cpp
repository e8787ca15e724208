// Refused: an initialised writable global has no place in an image.
#include <stdint.h>

#include "rt/program.h"

int32_t g_initialised_counter = 5;

extern "C" RT_CALL void app_initialise_globals() {
    ++g_initialised_counter;
}
