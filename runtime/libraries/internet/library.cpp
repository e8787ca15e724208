// The "internet" support library: whole-address HTTP GET.
#include "runtime/libraries/internet/http_get.h"
#include "runtime/libraries/support/library_command.h"

SUPPORT_LIBRARY_EXPORT int64_t LibraryCommand(int32_t command, const RtArgumentBlock* arguments,
                                              const RtKernelServices* kernel) {
    switch (command) {
        case RT_INTERNET_HTTP_GET: {
            const support::LibraryArguments a("internet", command, arguments, 1, *kernel);
            const std::optional<std::vector<uint8_t>> body = internet::http_get(a.text(0));
            return body ? a.new_byte_array(*body) : 0;
        }
    }
    support::unknown_command("internet", command, *kernel);
}
