// Handing an address to the system's web browser: browser_posix.cpp (the
// desktop's opener, xdg-open) and browser_win32.cpp (the shell).
#pragma once

#include <string_view>

namespace eapi {

// Whether a script takes the user's part (WJRT_SCRIPT or WJRT_TRANSCRIPT is
// set): no browser must open then.
bool under_automation();

// Starts the browser on the GBK address without waiting for it; what
// becomes of it is not examined.
void open_in_browser(std::string_view gbk_address);

}  // namespace eapi
