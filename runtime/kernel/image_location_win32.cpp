#include <windows.h>

#include <cstring>

#include "base/executable/image_section.h"
#include "base/encoding.h"
#include "runtime/kernel/image_location.h"

namespace kernel {

base::Result<std::span<const uint8_t>> locate_image(const void* image) {
    using base::fail;
    auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        char name[IMAGE_SIZEOF_SHORT_NAME + 1] = {};
        std::memcpy(name, section->Name, IMAGE_SIZEOF_SHORT_NAME);
        if (std::strcmp(name, loader::kImageSectionName) != 0)
            continue;
        if (base + section->VirtualAddress != image)
            return fail(std::string("the image handed over is not the program's image section"));
        return std::span<const uint8_t>(base + section->VirtualAddress, section->Misc.VirtualSize);
    }
    return fail(std::string("the program has no image section"));
}

std::optional<std::string> runtime_folder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&runtime_folder), &self))
        return std::nullopt;
    wchar_t path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameW(self, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return std::nullopt;
    const std::string utf8 = base::wide_to_utf8({path, length});
    size_t slash = utf8.rfind('\\');
    if (slash == std::string::npos)
        return std::nullopt;
    return utf8.substr(0, slash + 1);
}

}  // namespace kernel
