// Painting of the units that the runtime draws itself.
#pragma once

#include <windows.h>

#include "runtime/kernel/ui/model.h"

namespace kernel::ui::win32 {

// The unit's font, in the GB2312 character set; 宋体 when it names no face.
HFONT make_font(const Font& font, bool underline);

}  // namespace kernel::ui::win32
