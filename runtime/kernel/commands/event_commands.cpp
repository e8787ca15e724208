// The event loop as a long-running handler reaches it: serving what is
// pending, and the wait cursor.
//
// The headless backend takes a person's part only when the program is idle,
// back in an event loop: inside a handler nothing is pending, and there is no
// cursor to show. A backend with real windows serves its queue here.
#include "runtime/kernel/commands/kernel_commands.h"
#include "runtime/kernel/runtime.h"

namespace kernel {

namespace {

int64_t process_events(const Arguments& a) {
    a.runtime().windows().serve_pending();
    return 0;
}

int64_t wait_cursor(const Arguments& a) {
    a.runtime().windows().show_wait_cursor(a.logical(0));
    return 0;
}

constexpr KernelCommand kCommands[] = {
    {RT_KERNEL_PROCESS_EVENTS, 0, false, process_events},
    {RT_KERNEL_WAIT_CURSOR, 1, false, wait_cursor},
};

}  // namespace

std::span<const KernelCommand> event_commands() {
    return kCommands;
}

}  // namespace kernel
