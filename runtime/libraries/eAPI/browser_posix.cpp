#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/encoding.h"
#include "runtime/libraries/eAPI/browser.h"

extern char** environ;

namespace eapi {

bool under_automation() {
    for (const char* name : {"WJRT_SCRIPT", "WJRT_TRANSCRIPT"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

void open_in_browser(std::string_view gbk_address) {
    auto address = base::gbk_to_utf8(gbk_address);
    if (!address)
        return;
    // An intermediate child starts the opener and ends at once, so the
    // opener belongs to init and never lingers as this program's zombie.
    const pid_t middle = ::fork();
    if (middle < 0)
        return;
    if (middle == 0) {
        char program[] = "xdg-open";
        char* argv[] = {program, address->data(), nullptr};
        pid_t opener = 0;
        ::_exit(::posix_spawnp(&opener, program, nullptr, nullptr, argv, environ) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(middle, &status, 0);
}

}  // namespace eapi
