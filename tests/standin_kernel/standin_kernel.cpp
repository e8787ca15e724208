// A stand-in for the kernel library, for testing the loader stub alone. Its
// hand-off entry records the image address it was given and returns.
//
// Built in three flavours (STANDIN_FLAVOUR): 0 the working stand-in, 1 one
// whose GetNewSock refuses, 2 one without the GetNewSock export.
//
// With STANDIN_HOLD set to a file path, the hand-off waits (bounded) until
// that file exists, so a test can start a second instance meanwhile.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base/automation/transcript.h"
#include "base/executable/image_section.h"
#include "contract/kernel_handoff.h"

#ifdef _WIN32
#include <windows.h>
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#include <sys/stat.h>
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

#ifdef _WIN32
// Whether `image` is the start of the executable's image section.
const char* in_image_section(const void* image) {
    auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (std::memcmp(section->Name, loader::kImageSectionName,
                        sizeof loader::kImageSectionName) == 0)
            return base + section->VirtualAddress == image ? "yes" : "no";
    }
    return "no";
}

bool file_exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}
#else
const char* in_image_section(const void*) {
    return "n/a";
}

bool file_exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}
#endif

[[maybe_unused]] void hand_off(const void* image) {
    const auto* bytes = static_cast<const uint8_t*>(image);
    std::string head;
    for (int i = 0; i < 16; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        head += hex;
    }
    char line[160];
    std::snprintf(line, sizeof line, "handoff image-aligned=%s in-section=%s head=%s",
                  reinterpret_cast<uintptr_t>(image) % 4096 == 0 ? "yes" : "no",
                  in_image_section(image), head.c_str());
    automation::append_transcript_line(line);
    std::printf("%s\n", line);
    std::fflush(stdout);

    if (const char* hold = std::getenv("STANDIN_HOLD")) {
        for (int waited = 0; waited < 2000 && !file_exists(hold); ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

#if STANDIN_FLAVOUR != 2
STANDIN_EXPORT intptr_t GetNewSock(int32_t request) {
    if (STANDIN_FLAVOUR == 1 || request != KERNEL_HANDOFF_REQUEST)
        return 0;
    HandOffEntry entry = &hand_off;
    return reinterpret_cast<intptr_t>(entry);
}
#else
STANDIN_EXPORT int NotTheHandOff() {
    return 0;
}
#endif
