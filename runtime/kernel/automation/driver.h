// Takes the user's part from a script: each time the program is idle (back in
// an event loop), the next step is checked against what a person could do —
// the window is open and not behind a modal one, the unit is there, shown and
// enabled, an edit box is not read-only, the row exists — and done. A message
// box is answered by the step that follows when it comes up, and so is the
// folder dialog. Each action leaves a transcript line (user-click, user-type,
// user-select, user-close, user-activate, user-tab, user-back-tab).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "runtime/kernel/automation/script.h"
#include "runtime/kernel/ui/window_system.h"

namespace kernel::automation {

// How a checked step reaches the windows. This one acts on the model
// directly; a backend with real windows acts through its controls, which
// bring the same user actions back to the window system.
class Actor {
  public:
    virtual ~Actor() = default;
    // A click is the left button pressed in the unit's middle, then the click.
    virtual void click(ui::WindowSystem& system, uint32_t window, uint32_t unit) {
        const ui::Properties& p = system.window(window)->unit(unit)->now;
        system.press(window, unit, p.width / 2, p.height / 2, 0);
        if (system.window(window)->open)
            system.click(window, unit);
    }
    virtual void type(ui::WindowSystem& system, uint32_t window, uint32_t unit, std::string text) {
        system.type(window, unit, std::move(text));
    }
    virtual void select(ui::WindowSystem& system, uint32_t window, uint32_t unit, int32_t row) {
        system.select(window, unit, row);
    }
    virtual void close(ui::WindowSystem& system, uint32_t window) { system.user_close(window); }
    virtual void activate(ui::WindowSystem& system, uint32_t window) { system.activate(window); }
    virtual void tab(ui::WindowSystem& system, uint32_t window, bool backwards) {
        system.tab(window, backwards);
    }
    // The index of the window's unit that has the keyboard focus, 0 for none.
    virtual size_t focused(ui::WindowSystem& system, uint32_t window) {
        return system.window(window)->focus;
    }
    // A picture of the window as a PNG file (`file` UTF-8); without a
    // screen there is nothing to capture and nothing is written.
    virtual ui::Result<void> capture(uint32_t /*window*/, const std::string& /*file*/) {
        return {};
    }
};

class ScriptDriver {
  public:
    explicit ScriptDriver(std::vector<Step> steps) : steps_(std::move(steps)) {}

    // Does the next step through `actor`: false when the script has ended;
    // an error (UTF-8) naming the step when it cannot be done.
    ui::Result<bool> perform_next(ui::WindowSystem& system, Actor& actor);
    ui::Result<bool> perform_next(ui::WindowSystem& system) {
        Actor actor;
        return perform_next(system, actor);
    }
    bool has_steps() const { return !steps_.empty(); }

    // The answer to the message box that has come up (RT_MB_ANSWER_*): the
    // next step must give it, with a button the box has.
    ui::Result<int32_t> answer(const ui::MessageBoxRequest& box);

    // The choice in the folder dialog that has come up (`title` GBK): the
    // next step must be choose-folder (the path, GBK) or cancel-folder
    // (nullopt).
    ui::Result<std::optional<std::string>> folder_choice(const std::string& title);

  private:
    ui::Result<void> perform(const Step& step, ui::WindowSystem& system, Actor& actor);

    std::vector<Step> steps_;
    size_t next_ = 0;
};

}  // namespace kernel::automation
