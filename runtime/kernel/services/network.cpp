#include "runtime/kernel/services/network.h"

namespace kernel::network {

bool is_host_name(std::string_view name) {
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    if (name.empty() || name.size() > 253)
        return false;
    size_t label_start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '.') {
            const std::string_view label = name.substr(label_start, i - label_start);
            if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
                return false;
            label_start = i + 1;
            continue;
        }
        const char c = name[i];
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!allowed)
            return false;
    }
    return true;
}

}  // namespace kernel::network
