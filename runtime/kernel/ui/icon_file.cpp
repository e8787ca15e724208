#include "runtime/kernel/ui/icon_file.h"

#include <string>

#include "base/byte_reader.h"

namespace kernel::ui {

using base::fail;

base::Result<std::vector<IconImage>> read_icon_file(std::span<const uint8_t> file) {
    const base::ByteView view(file);
    if (!view.has(0, kIconDirectorySize))
        return fail(std::string("an icon file of ") + std::to_string(file.size()) + " bytes");
    const IconDirectoryRecord directory{*view.u16(0), *view.u16(2), *view.u16(4)};
    if (directory.reserved != 0 || directory.type != 1)
        return fail(std::string("not an icon file"));
    if (directory.count == 0)
        return fail(std::string("an icon file without images"));
    if (!view.has(kIconDirectorySize, directory.count * kIconEntrySize))
        return fail("the icon directory of " + std::to_string(directory.count) +
                    " images runs past the end");
    std::vector<IconImage> images;
    for (size_t i = 0; i < directory.count; ++i) {
        const size_t at = kIconDirectorySize + i * kIconEntrySize;
        const IconEntryRecord entry{file[at],          file[at + 1],      file[at + 2],
                                    file[at + 3],      *view.u16(at + 4), *view.u16(at + 6),
                                    *view.u32(at + 8), *view.u32(at + 12)};
        auto bytes = view.slice(entry.offset, entry.size);
        if (!bytes || entry.size == 0)
            return fail("icon image " + std::to_string(i + 1) + " lies outside the file");
        images.push_back({entry.width == 0 ? 256 : entry.width,
                          entry.height == 0 ? 256 : entry.height, entry.bit_count, *bytes});
    }
    return images;
}

}  // namespace kernel::ui
