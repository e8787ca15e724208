// The handlers of focus.desc: the creation disables the first tab stop, so
// the focus a window opens with is given after its creation; a button opens
// the modal window.
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/window.h"

extern "C" {

RT_CALL void disable_first() {
    rt_set_property(RT_ID(52010001), RT_ID(16010002), RT_PROPERTY_ENABLED, -1, 0);
}

RT_CALL void open_modal() {
    rt::Window(RT_ID(52010002)).load_modal();
}

}  // extern "C"
