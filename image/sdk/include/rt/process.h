// Processes and the user's places through the kernel commands, and opening
// an address in the user's browser through the eAPI library (a program that
// calls rt::open_address lists "library eAPI" in its description).
#pragma once

#include <stdint.h>

#include "rt/args.h"
#include "rt/markers.h"
#include "rt/slots.h"
#include "rt/text.h"

namespace rt {

// Starts a command line as Windows reads it (the program, in double quotes
// when its path holds blanks, then the arguments); the started program
// inherits the current folder. -1 when it cannot start; else 0, or with
// `wait` its exit code once it has ended.
inline int32_t run(const char* command_line, bool wait) {
    auto block = rt::arguments(rt::text(command_line), rt::logical(wait));
    return static_cast<int32_t>(rt_kernel_command(RT_KERNEL_RUN, block.get()));
}

namespace process_detail {

inline Text folder(int32_t command) {
    const RtArgumentBlock none = {0, {}};
    return Text::adopt(static_cast<intptr_t>(rt_kernel_command(command, &none)));
}

}  // namespace process_detail

// Milliseconds of a steady clock; only differences between two readings
// mean anything.
inline int64_t milliseconds() {
    const RtArgumentBlock none = {0, {}};
    return rt_kernel_command(RT_KERNEL_MILLISECONDS, &none);
}

// The user's desktop folder, without a final separator.
inline Text desktop_folder() {
    return process_detail::folder(RT_KERNEL_DESKTOP_FOLDER);
}

// The folder of the running program's executable.
inline Text program_folder() {
    return process_detail::folder(RT_KERNEL_PROGRAM_FOLDER);
}

// The running program's own file name, without its folder.
inline Text program_file_name() {
    return process_detail::folder(RT_KERNEL_PROGRAM_FILE_NAME);
}

// The current folder.
inline Text current_folder() {
    return process_detail::folder(RT_KERNEL_CURRENT_FOLDER);
}

// Opens a web address (http:// or https://) in the user's browser, without
// waiting; nothing comes back.
inline void open_address(const char* address) {
    auto block = rt::arguments(rt::text(address));
    rt_library_command(static_cast<int32_t>(RT_LIBRARY(eAPI)), RT_EAPI_OPEN_ADDRESS, block.get());
}

}  // namespace rt
