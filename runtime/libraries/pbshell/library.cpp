// pbshell: the shell's functions that programs use (writing shortcuts).
#include "runtime/libraries/pbshell/shortcut.h"
#include "runtime/libraries/support/library_command.h"

SUPPORT_LIBRARY_EXPORT int64_t LibraryCommand(int32_t command, const RtArgumentBlock* block,
                                              const RtKernelServices* kernel) {
    switch (command) {
        case RT_PBSHELL_WRITE_SHORTCUT: {
            const support::LibraryArguments a("pbshell", command, block, 4, *kernel);
            return pbshell::write_shortcut(a.text(0), a.text(1), a.text(2), a.text(3)) ? 1 : 0;
        }
    }
    support::unknown_command("pbshell", command, *kernel);
}
