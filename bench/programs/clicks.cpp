// Counts the clicks of its button in the button's caption width: the cost
// of an event round trip (script step, handler, property write, back to the
// event loop) is this program's run less start_only's, divided by the clicks.
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"

namespace {
int32_t g_clicks;
}

extern "C" RT_CALL void on_clicked() {
    rt_set_property(RT_ID(52010001), RT_ID(16010002), RT_PROPERTY_WIDTH, -1, ++g_clicks);
}
