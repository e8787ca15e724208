// Writes a unit property many times from its window's creation: the cost of
// one property write is this program's run less start_only's, divided.
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"

constexpr int32_t kWrites = 200000;

extern "C" RT_CALL void on_window_created() {
    for (int32_t i = 0; i < kWrites; ++i)
        rt_set_property(RT_ID(52010001), RT_ID(16010002), RT_PROPERTY_WIDTH, -1, i);
}
