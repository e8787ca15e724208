#include "runtime/kernel/automation/driver.h"

#include "base/automation/transcript.h"
#include "base/encoding.h"
#include "base/hex.h"
#include "contract/runtime_abi.h"

namespace kernel::automation {

using ::automation::append_transcript_line;
using ::automation::quote;
using base::fail;
using base::hex;

namespace {

std::string utf8(std::string_view gbk) {
    return base::gbk_to_utf8(gbk).value_or(std::string(gbk));
}

bool offers(int32_t buttons, int32_t answer) {
    switch (buttons) {
        case RT_MB_OK:
            return answer == RT_MB_ANSWER_OK;
        case RT_MB_OK_CANCEL:
            return answer == RT_MB_ANSWER_OK || answer == RT_MB_ANSWER_CANCEL;
        case RT_MB_YES_NO:
            return answer == RT_MB_ANSWER_YES || answer == RT_MB_ANSWER_NO;
    }
    return false;
}

std::string step_label(const Step& step) {
    return "line " + std::to_string(step.line) + " (" + step.source + ")";
}

}  // namespace

ui::Result<bool> ScriptDriver::perform_next(ui::WindowSystem& system, Actor& actor) {
    if (next_ >= steps_.size())
        return false;
    const Step& step = steps_[next_++];
    auto done = perform(step, system, actor);
    if (done.is_error())
        return fail(step_label(step) + ": " + done.error().message());
    return true;
}

ui::Result<void> ScriptDriver::perform(const Step& step, ui::WindowSystem& system, Actor& actor) {
    ui::WindowState* active = system.active_window();
    if (step.kind == StepKind::Answer)
        return fail(std::string("no message box is up"));
    if (step.kind == StepKind::ChooseFolder || step.kind == StepKind::CancelFolder)
        return fail(std::string("no folder dialog is up"));
    if (active == nullptr)
        return fail(std::string("no window is open"));
    const uint32_t active_id = active->id();

    switch (step.kind) {
        case StepKind::ExpectWindow:
            if (active_id != step.window)
                return fail("the window in front is " + hex(active_id));
            return {};
        case StepKind::Activate: {
            ui::WindowState* window = system.window(step.window);
            if (window == nullptr || !window->open)
                return fail("the window " + hex(step.window) + " is not open");
            if (!system.reachable(step.window))
                return fail("a modal window is in front of the window " + hex(step.window));
            append_transcript_line("user-activate " + hex(step.window));
            actor.activate(system, step.window);
            return {};
        }
        case StepKind::Close:
            if (!active->units.front().now.visible)
                return fail("the window " + hex(active_id) + " is hidden");
            append_transcript_line("user-close " + hex(active_id));
            actor.close(system, active_id);
            return {};
        case StepKind::Capture:
            return actor.capture(active_id, step.text);
        case StepKind::Tab:
        case StepKind::BackTab: {
            const bool backwards = step.kind == StepKind::BackTab;
            append_transcript_line(backwards ? "user-back-tab" : "user-tab");
            actor.tab(system, active_id, backwards);
            return {};
        }
        default:
            break;
    }

    ui::UnitState* unit = active->unit_named(step.unit);
    if (unit == nullptr)
        return fail("the window " + hex(active_id) + " has no unit " + utf8(step.unit));
    const uint32_t unit_id = unit->id();
    const std::string name = ui::display_name(*unit);
    if (step.kind == StepKind::ExpectFocus) {
        const size_t focused = actor.focused(system, active_id);
        if (focused == 0 || focused >= active->units.size())
            return fail("no unit of the window " + hex(active_id) + " has the focus");
        if (&active->units[focused] != unit)
            return fail("the focus is on " + ui::display_name(active->units[focused]));
        return {};
    }
    if (step.kind == StepKind::ExpectText) {
        if (unit->now.text != step.text)
            return fail("the text of " + name + " is " + quote(utf8(unit->now.text)));
        return {};
    }
    if (std::string why = system.why_unusable(*active, *unit); !why.empty())
        return fail(why);

    switch (step.kind) {
        case StepKind::Click:
            append_transcript_line("user-click " + name);
            actor.click(system, active_id, unit_id);
            return {};
        case StepKind::Type:
            if (!unit->has(RT_FACET_TYPED))
                return fail("the unit " + name + " is not an edit box");
            if (unit->now.read_only)
                return fail("the edit box " + name + " is read-only");
            append_transcript_line("user-type " + name + " " + quote(utf8(step.text)));
            actor.type(system, active_id, unit_id, step.text);
            return {};
        case StepKind::Select:
            if (!unit->has(RT_FACET_ROWS))
                return fail("the unit " + name + " is not a list box");
            if (static_cast<size_t>(step.row) >= unit->now.items.size())
                return fail("the list box " + name + " has " +
                            std::to_string(unit->now.items.size()) + " rows");
            append_transcript_line("user-select " + name + " " + std::to_string(step.row));
            actor.select(system, active_id, unit_id, step.row);
            return {};
        default:
            return {};
    }
}

ui::Result<int32_t> ScriptDriver::answer(const ui::MessageBoxRequest& box) {
    const std::string what = "the message box " + quote(utf8(box.text)) + " is up";
    if (next_ >= steps_.size())
        return fail(what + ", and the script has ended");
    const Step& step = steps_[next_];
    if (step.kind != StepKind::Answer)
        return fail(what + ", and the next step is not an answer: " + step_label(step));
    ++next_;
    if (!offers(box.buttons, step.answer))
        return fail(what + ", and it has no button " + ui::answer_name(step.answer) + ": " +
                    step_label(step));
    return step.answer;
}

ui::Result<std::optional<std::string>> ScriptDriver::folder_choice(const std::string& title) {
    const std::string what = "the folder dialog " + quote(utf8(title)) + " is up";
    if (next_ >= steps_.size())
        return fail(what + ", and the script has ended");
    const Step& step = steps_[next_];
    if (step.kind == StepKind::CancelFolder) {
        ++next_;
        return std::optional<std::string>();
    }
    if (step.kind != StepKind::ChooseFolder)
        return fail(what + ", and the next step is not a folder choice: " + step_label(step));
    ++next_;
    return std::optional<std::string>(step.text);
}

}  // namespace kernel::automation
