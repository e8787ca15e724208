// The kernel library's export: GetNewSock(1000) gives the hand-off entry,
// which binds the program image and runs it.
#include "contract/kernel_handoff.h"
#include "runtime/kernel/platform.h"
#include "runtime/kernel/runtime.h"

#ifdef _WIN32
#define KERNEL_EXPORT extern "C" __declspec(dllexport)
#else
#define KERNEL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

void hand_off(const void* image) {
    kernel::Runtime::instance().run(image);
    // The start routine ends the program through the exit slot; should it
    // return, the program ends here with code 0.
    kernel::platform::end_process(0);
}

}  // namespace

KERNEL_EXPORT intptr_t GetNewSock(int32_t request) {
    if (request != KERNEL_HANDOFF_REQUEST)
        return 0;
    HandOffEntry entry = &hand_off;
    return reinterpret_cast<intptr_t>(entry);
}
