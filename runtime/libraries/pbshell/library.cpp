#include "runtime/libraries/support/library_command.h"

SUPPORT_LIBRARY_EXPORT int64_t LibraryCommand(int32_t command, const RtArgumentBlock*,
                                              const RtKernelServices* kernel) {
    support::unknown_command("pbshell", command, *kernel);
}
