#include "runtime/kernel/services/system_path.h"

#include "base/encoding.h"
#include "base/gbk.h"

namespace kernel {

std::optional<SystemPath> to_system_path(std::string_view gbk) {
    if (gbk.empty())
        return std::nullopt;
    std::string separated(gbk);
    base::for_each_gbk_char(separated, [&](size_t offset, size_t length) {
        if (length == 1 && separated[offset] == '\\')
            separated[offset] = '/';
    });
    auto utf8 = base::gbk_to_utf8(separated);
    // A zero byte would end the name early at the system's edge.
    if (!utf8 || utf8->find('\0') != std::string::npos)
        return std::nullopt;
    return utf8;
}

std::optional<std::string> from_system_path(const SystemPath& path) {
    return base::utf8_to_gbk(path);
}

SystemPath parent_of(const SystemPath& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? SystemPath("/") : path.substr(0, slash);
}

}  // namespace kernel
