// What `imagelink prepare` writes for the program's code beside the form:
// the header of typed handles ("units.h": one function per window and unit
// that the description gives a code name) and the start window's source,
// which the SDK's start routine calls. Identifiers reach the code only
// through RT_ID markers inside these functions, so the linker finds every
// use as it finds the program's own.
#pragma once

#include <string>

#include "image/link/description.h"

namespace image::link {

// The SDK class of a unit's handle (rt/window.h) for its type.
std::string handle_class(const ProgramDescription& description, const UnitDescription& unit,
                         bool window_record);

// units.h: `inline rt::ListBox changed_list()` and the like, in namespace ui.
std::string units_header(const ProgramDescription& description, const std::string& source_name);

// start_window.cpp: app_start_window(), the start window's identifier.
std::string start_window_source(const ProgramDescription& description);

}  // namespace image::link
