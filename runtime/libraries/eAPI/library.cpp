// The eAPI library: opening an address in the user's web browser.
//
// Only web addresses (http:// or https://) are handed to the system: the
// system's opener would as well start a program or open a local file that
// an address names, and a program asks for a page. Under automation the
// address is written to the transcript and no browser starts:
//
//   open-address "http://127.0.0.1/index.html"
#include "base/automation/transcript.h"
#include "base/encoding.h"
#include "runtime/libraries/eAPI/browser.h"
#include "runtime/libraries/support/library_command.h"

namespace {

bool is_web_address(std::string_view address) {
    auto starts_with = [&](std::string_view scheme) {
        if (address.size() <= scheme.size())
            return false;
        for (size_t i = 0; i < scheme.size(); ++i) {
            char c = address[i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != scheme[i])
                return false;
        }
        return true;
    };
    return starts_with("http://") || starts_with("https://");
}

int64_t open_address(const support::LibraryArguments& a) {
    const std::string address = a.text(0);
    auto utf8 = base::gbk_to_utf8(address);
    if (!utf8 || !is_web_address(address))
        return 0;
    if (eapi::under_automation()) {
        automation::append_transcript_line("open-address " + automation::quote(*utf8));
        return 0;
    }
    eapi::open_in_browser(address);
    return 0;
}

}  // namespace

SUPPORT_LIBRARY_EXPORT int64_t LibraryCommand(int32_t command, const RtArgumentBlock* arguments,
                                              const RtKernelServices* kernel) {
    switch (command) {
        case RT_EAPI_OPEN_ADDRESS:
            return open_address(support::LibraryArguments("eAPI", command, arguments, 1, *kernel));
    }
    support::unknown_command("eAPI", command, *kernel);
}
