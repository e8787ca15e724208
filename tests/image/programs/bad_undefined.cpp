// Refused: a routine that nothing defines.
#include "rt/program.h"

extern "C" void routine_defined_nowhere();

extern "C" RT_CALL void app_initialise_globals() {
    routine_defined_nowhere();
}
