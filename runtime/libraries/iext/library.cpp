// The library's unit type is drawn by the kernel's user-interface backends;
// it has no commands of its own.
#include "runtime/libraries/support/library_command.h"

SUPPORT_LIBRARY_EXPORT int64_t LibraryCommand(int32_t command, const RtArgumentBlock*,
                                              const RtKernelServices* kernel) {
    support::unknown_command("iext", command, *kernel);
}
