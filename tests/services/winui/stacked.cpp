// The creation handler of stacked.desc: the HTML view is given its address
// once the window is up, as a program shows a page it has just looked up.
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"

extern "C" {

RT_CALL void give_address() {
    static const char kAddress[] = "http://127.0.0.1:9/";
    rt_set_property(RT_ID(52010001), RT_ID(16010006), RT_PROPERTY_TEXT, -1,
                    static_cast<int64_t>(reinterpret_cast<uintptr_t>(kAddress)));
}

}  // extern "C"
