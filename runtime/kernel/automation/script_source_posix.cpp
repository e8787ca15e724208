#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "runtime/kernel/automation/script_source.h"

namespace kernel::automation {

base::Result<std::optional<std::string>> read_script_source() {
    const char* path = std::getenv(kScriptVariable);
    if (path == nullptr || *path == '\0')
        return std::optional<std::string>();
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return base::fail("cannot open the script " + std::string(path));
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0) {
            close(fd);
            return base::fail("cannot read the script " + std::string(path));
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return std::optional<std::string>(std::move(text));
}

std::string own_program_name() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path)
        return {};
    const std::string_view full(path, static_cast<size_t>(length));
    return std::string(full.substr(full.rfind('/') + 1));
}

}  // namespace kernel::automation
