// Reading and writing profile (INI) files.
#include "runtime/kernel/commands/kernel_commands.h"
#include "runtime/kernel/runtime.h"
#include "runtime/kernel/services/profile_file.h"

namespace kernel {

namespace {

int64_t read_profile(const Arguments& a) {
    const std::string value = profile_files().read(a.text(0), a.text(1), a.text(2));
    return a.runtime().new_text(value);
}

int64_t write_profile(const Arguments& a) {
    return profile_files().write(a.text(0), a.text(1), a.text(2), a.text(3)) ? 1 : 0;
}

constexpr KernelCommand kCommands[] = {
    {RT_KERNEL_READ_PROFILE, 3, false, read_profile},
    {RT_KERNEL_WRITE_PROFILE, 4, false, write_profile},
};

}  // namespace

std::span<const KernelCommand> profile_commands() {
    return kCommands;
}

}  // namespace kernel
