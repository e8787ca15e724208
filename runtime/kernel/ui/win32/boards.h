// Drawing boards that keep what is painted on them: the runtime's GetDC and
// ReleaseDC for the programs' declarations. A board's control hands out the
// device context of its picture (a bitmap of its size), so what the program
// paints through it stays when the window is covered and shown again; the
// release shows what was painted at once, also from inside a handler that
// runs long without serving the window's messages. Any other window gets the
// system's device context.
#pragma once

#include <cstdint>
#include <string_view>

namespace kernel::ui::win32 {

// The address of the runtime's function for GetDC or ReleaseDC (of user32);
// 0 for any other function.
uint64_t board_function(std::string_view function);

}  // namespace kernel::ui::win32
