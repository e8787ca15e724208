#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "base/executable/elf64.h"
#include "base/executable/image_section.h"
#include "runtime/kernel/image_location.h"

namespace kernel {

base::Result<std::span<const uint8_t>> locate_image(const void* image) {
    using base::fail;
    // The stub copied the section into memory of its size; its size comes
    // from the section table of the executable file.
    int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(std::string("cannot open the program's own file"));
    struct stat st;
    auto read = [&](uint64_t offset, std::span<uint8_t> out) {
        size_t done = 0;
        while (done < out.size()) {
            ssize_t got =
                pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
            if (got <= 0)
                return false;
            done += static_cast<size_t>(got);
        }
        return true;
    };
    std::optional<loader::elf64::SectionExtent> section;
    if (fstat(fd, &st) == 0)
        section = loader::elf64::find_section(read, static_cast<uint64_t>(st.st_size),
                                              loader::kImageSectionName);
    close(fd);
    if (!section)
        return fail(std::string("the program has no image section"));
    if (image == nullptr)
        return fail(std::string("no image was handed over"));
    return std::span<const uint8_t>(static_cast<const uint8_t*>(image), section->size);
}

std::optional<std::string> runtime_folder() {
    Dl_info info;
    if (dladdr(reinterpret_cast<const void*>(&runtime_folder), &info) == 0 ||
        info.dli_fname == nullptr)
        return std::nullopt;
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    return path.substr(0, slash + 1);
}

}  // namespace kernel
