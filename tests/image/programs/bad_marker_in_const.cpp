// Refused: a marker stored in constant data instead of an immediate in code.
#include "rt/program.h"
#include "rt/slots.h"

extern const char start_window_marker[] __asm__("__rtm_id_52010001");
extern const void* const g_marker_table[] = {start_window_marker, nullptr};
int g_index;  // zero, but unknown to the compiler: the table stays in memory

extern "C" RT_CALL void app_initialise_globals() {
    rt_load_window(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_marker_table[g_index])));
}
