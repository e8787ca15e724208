// The backend with real windows (Windows only): every window of the program
// is a top-level window, every unit a control at its form's place, texts
// shown through the wide functions after conversion from GBK. What the
// person does comes back through the window procedures as the window
// system's user actions; with a script, the steps drive the same controls.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/kernel/automation/driver.h"
#include "runtime/kernel/ui/user_interface.h"
#include "runtime/kernel/ui/window_system.h"

namespace kernel::ui {

// `scripted`: automation takes the person's part (the script's steps; none
// when it has ended or there is none); otherwise the person at the screen
// does. `libraries`: the names of the image's library list, which tell the
// unit types of support libraries apart.
std::unique_ptr<UserInterface> make_win32_interface(automation::ScriptDriver driver, bool scripted,
                                                    WindowSystem& system, Host& host,
                                                    std::vector<std::string> libraries);

}  // namespace kernel::ui
