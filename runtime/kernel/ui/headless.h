// The headless backend: the windows live only in the model. What a person
// would see becomes transcript lines; the person's part comes from the
// script (an absent script is one that has ended: nobody can answer).
#pragma once

#include "base/automation/transcript.h"
#include "runtime/kernel/automation/driver.h"
#include "runtime/kernel/ui/user_interface.h"
#include "runtime/kernel/ui/window_system.h"

namespace kernel::ui {

class HeadlessInterface final : public UserInterface {
  public:
    HeadlessInterface(automation::ScriptDriver driver, Host& host)
        : driver_(std::move(driver)), host_(host) {}

    void window_opened(const WindowState& window) override;
    void window_closed(const WindowState& window) override;
    void unit_changed(const WindowState& window, const UnitState& unit,
                      const Change& change) override;
    void unit_copied(const WindowState& window, const UnitState& original,
                     const UnitState& copy) override;
    void draw_text(const WindowState& window, const UnitState& board,
                   const DrawnText& text) override;
    int32_t message_box(const MessageBoxRequest& request) override;
    std::optional<std::string> choose_folder(const FolderRequest& request) override;
    int64_t handle_of(const WindowState& window, const UnitState& unit) override;
    bool serve_one(WindowSystem& system) override;

  private:
    automation::ScriptDriver driver_;
    Host& host_;
};

}  // namespace kernel::ui
