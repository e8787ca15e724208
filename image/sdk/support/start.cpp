// The start routine of every image. The linker places it last among the
// routines, directly before the slot thunks.
#include "rt/program.h"
#include "rt/slots.h"

extern "C" {

// Module initialisers (static constructors), gathered by the linker script.
using ModuleInitialiser = void (*)();
extern const ModuleInitialiser __rt_init_array_start[];
extern const ModuleInitialiser __rt_init_array_end[];

__attribute__((weak)) RT_CALL void app_initialise_globals() {}
__attribute__((weak)) RT_CALL void app_release_globals() {}

__attribute__((section(".rtstart"), used)) RT_CALL void rt_start() {
    __asm__ volatile("cld\n\tfninit" ::: "memory");
    app_initialise_globals();
    RtReleaseRoutine release = &app_release_globals;
    rt_service(RT_SERVICE_ON_RELEASE, reinterpret_cast<intptr_t>(release), 0, 0, 0);
    for (const ModuleInitialiser* init = __rt_init_array_start; init != __rt_init_array_end; ++init)
        (*init)();
    rt_load_window(app_start_window());
    rt_serve_events(0);
    rt_exit(0);
}

}  // extern "C"
