// Reads element 0 of an array: run-time error 4, then the end of the program
// (the release routine still runs).
#include "rt/array.h"
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"

extern "C" {

RT_CALL void app_release_globals() {
    rt_set_property(RT_ID(52010001), RT_ID(16010002), RT_PROPERTY_LEFT, -1, 99);
}

RT_CALL void on_window_created() {
    rt::Array<int32_t> numbers = rt::Array<int32_t>::of_size(2);
    rt_set_property(RT_ID(52010001), RT_ID(16010002), RT_PROPERTY_WIDTH, -1, numbers[0]);
}

}  // extern "C"
