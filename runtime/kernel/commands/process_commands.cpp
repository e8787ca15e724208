// Processes and the user's places: starting a command line, and the desktop,
// program and current folders. The work is done by services/process.h.
#include "base/automation/transcript.h"
#include "runtime/kernel/commands/kernel_commands.h"
#include "runtime/kernel/runtime.h"
#include "runtime/kernel/services/process.h"

namespace kernel {

namespace {

int64_t run(const Arguments& a) {
    const std::string command_line = a.text(0);
    const bool wait = a.logical(1);
    // A scenario's transcript shows every process a program starts, before
    // it runs: the started program may write lines of its own.
    automation::append_transcript_line(process::transcript_line(command_line, wait));
    return process::run(command_line, wait);
}

int64_t folder(const Arguments& a, std::optional<std::string> path) {
    return path ? a.runtime().new_text(*path) : 0;
}

int64_t desktop_folder(const Arguments& a) {
    return folder(a, process::desktop_folder());
}

int64_t program_folder(const Arguments& a) {
    return folder(a, process::program_folder());
}

int64_t program_file_name(const Arguments& a) {
    return folder(a, process::program_file_name());
}

int64_t current_folder(const Arguments& a) {
    return folder(a, process::current_folder());
}

int64_t milliseconds(const Arguments&) {
    return process::steady_milliseconds();
}

constexpr KernelCommand kCommands[] = {
    {RT_KERNEL_RUN, 2, false, run},
    {RT_KERNEL_DESKTOP_FOLDER, 0, false, desktop_folder},
    {RT_KERNEL_PROGRAM_FOLDER, 0, false, program_folder},
    {RT_KERNEL_CURRENT_FOLDER, 0, false, current_folder},
    {RT_KERNEL_PROGRAM_FILE_NAME, 0, false, program_file_name},
    {RT_KERNEL_MILLISECONDS, 0, false, milliseconds},
};

}  // namespace

std::span<const KernelCommand> process_commands() {
    return kCommands;
}

}  // namespace kernel
