#include "common/base/encoding.h"
#include "common/base/gbk.h"
#include "runtime/kernel/services/system_path.h"

namespace kernel {

std::optional<SystemPath> to_system_path(std::string_view gbk_path) {
    if (gbk_path.empty())
        return std::nullopt;
    std::string gbk(gbk_path);
    base::for_each_gbk_char(gbk, [&](size_t offset, size_t length) {
        if (length == 1 && gbk[offset] == '\\')
            gbk[offset] = '/';
    });
    return base::gbk_to_utf8(gbk);
}

}  // namespace kernel
