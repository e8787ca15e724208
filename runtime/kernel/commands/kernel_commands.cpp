#include "runtime/kernel/commands/kernel_commands.h"

#include <vector>

namespace kernel {

const KernelCommand* find_kernel_command(int32_t number) {
    static const std::vector<const KernelCommand*> by_number = [] {
        std::vector<const KernelCommand*> table;
        for (auto group :
             {window_commands(), profile_commands(), file_commands(), process_commands(),
              network_commands(), object_commands(), event_commands()}) {
            for (const KernelCommand& command : group) {
                const auto at = static_cast<size_t>(command.number);
                if (table.size() <= at)
                    table.resize(at + 1, nullptr);
                table[at] = &command;
            }
        }
        return table;
    }();
    if (number < 0 || static_cast<size_t>(number) >= by_number.size())
        return nullptr;
    return by_number[static_cast<size_t>(number)];
}

}  // namespace kernel
