// The system's control host of the embedded browser, which HTML views show
// their address in.
#pragma once

namespace kernel::ui::win32 {

// The window class whose windows show the page of the address that is their
// text ("AtlAxWin" of atl.dll); null where the system has none (as under
// wine without its HTML engine).
const wchar_t* browser_class();

}  // namespace kernel::ui::win32
