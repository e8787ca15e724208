// Refused: an identifier that no window or unit of the description has.
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"

extern "C" RT_CALL void app_initialise_globals() {
    rt_load_window(RT_ID(52010099));
}
