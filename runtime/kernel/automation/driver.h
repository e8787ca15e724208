// Takes the user's part from a script: each time the program is idle (back in
// an event loop), the next step is checked against what a person could do —
// the window is open and not behind a modal one, the unit is there, shown and
// enabled, an edit box is not read-only, the row exists — and done. A message
// box is answered by the step that follows when it comes up, and so is the
// folder dialog. Each action leaves a transcript line (user-click, user-type,
// user-select, user-close, user-activate).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "runtime/kernel/automation/script.h"
#include "runtime/kernel/ui/window_system.h"

namespace kernel::automation {

class ScriptDriver {
  public:
    explicit ScriptDriver(std::vector<Step> steps) : steps_(std::move(steps)) {}

    // Does the next step: false when the script has ended; an error (UTF-8)
    // naming the step when it cannot be done.
    ui::Result<bool> perform_next(ui::WindowSystem& system);

    // The answer to the message box that has come up (RT_MB_ANSWER_*): the
    // next step must give it, with a button the box has.
    ui::Result<int32_t> answer(const ui::MessageBoxRequest& box);

    // The choice in the folder dialog that has come up (`title` GBK): the
    // next step must be choose-folder (the path, GBK) or cancel-folder
    // (nullopt).
    ui::Result<std::optional<std::string>> folder_choice(const std::string& title);

  private:
    ui::Result<void> perform(const Step& step, ui::WindowSystem& system);

    std::vector<Step> steps_;
    size_t next_ = 0;
};

}  // namespace kernel::automation
