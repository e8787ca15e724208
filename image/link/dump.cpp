#include "image/link/dump.h"

#include <cstdarg>
#include <cstdio>

#include "base/byte_reader.h"
#include "base/encoding.h"
#include "image/format/image.h"

namespace image::link {

namespace {

std::string utf8_of(const std::string& gbk) {
    return base::gbk_to_utf8(gbk).value_or(gbk);
}

__attribute__((format(printf, 2, 3))) void add(std::string& out, const char* format, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    out += line;
}

const char* kind_name(FixupKind kind) {
    switch (kind) {
        case FixupKind::SlotTable:
            return "slot";
        case FixupKind::Const:
            return "const";
        case FixupKind::Var:
            return "var";
        case FixupKind::Code:
            return "code";
    }
    return "?";
}

void add_fixups(std::string& out, const char* segment, const SegmentData& data) {
    size_t counts[4] = {};
    for (const Fixup& fixup : data.fixups)
        ++counts[static_cast<size_t>(fixup.kind)];
    add(out, "segment %-6s %8zu bytes  fixups: slot %zu, const %zu, var %zu, code %zu\n", segment,
        data.data.size(), counts[0], counts[1], counts[2], counts[3]);
}

void add_list(std::string& out, const char* name, const std::vector<uint32_t>& sites,
              const std::vector<uint8_t>& code) {
    add(out, "relocation list %s: %zu\n", name, sites.size());
    for (uint32_t site : sites) {
        uint32_t value = site + 4 <= code.size() ? base::load_le32(code.data() + site) : 0;
        add(out, "  code+0x%05x = 0x%08x\n", site, value);
    }
}

}  // namespace

LinkResult<std::string> dump_image(std::span<const uint8_t> bytes) {
    auto read = read_image(bytes);
    if (read.is_error())
        return base::fail(read.error());
    const Image& image = read.value();
    const bool wide = image.architecture == Architecture::X86_64;
    std::string out;
    add(out, "image %zu bytes, %s, start routine code+0x%x, next free identifier 0x%08x\n",
        bytes.size(), wide ? "x86-64" : "i386", image.start_routine, image.next_free_id);
    for (size_t i = 0; i < image.dlls.size(); ++i)
        add(out, "dll %zu: \"%s\" %s\n", i, image.dlls[i].library.c_str(),
            image.dlls[i].function.c_str());
    for (size_t i = 0; i < image.libraries.size(); ++i) {
        const LibraryEntry& library = image.libraries[i];
        add(out, "library %zu: %s %s %s.%s %s\n", i, library.name.c_str(),
            library.identifier.c_str(), library.major.c_str(), library.minor.c_str(),
            utf8_of(library.description).c_str());
    }
    add_fixups(out, "const", image.const_segment);
    add(out, "segment form   %zu windows\n", image.windows.size());
    add(out, "segment help   %8zu bytes\n", kHelpSize);
    add_fixups(out, "code", image.code);
    add(out, "segment var    %8u bytes (zero-filled)\n", image.var_size);

    const size_t thunk_size = wide ? 7 : 6;
    add(out, "slot thunks (behind the start routine at code+0x%x):\n", image.start_routine);
    for (const Fixup& fixup : image.code.fixups) {
        if (fixup.kind != FixupKind::SlotTable)
            continue;
        const size_t thunk = fixup.offset - (wide ? 3 : 2);
        std::string hex;
        for (size_t i = 0; i < thunk_size && thunk + i < image.code.data.size(); ++i)
            add(hex, "%02X ", image.code.data[thunk + i]);
        uint32_t operand = base::load_le32(image.code.data.data() + fixup.offset);
        add(out, "  code+0x%05zx: %s  slot 0x%02X\n", thunk, hex.c_str(),
            wide ? operand / 2 : operand);
    }
    add(out, "fixups of code (site: kind):\n");
    for (const Fixup& fixup : image.code.fixups) {
        add(out, "  code+0x%05x: %-5s 0x%08x\n", fixup.offset, kind_name(fixup.kind),
            base::load_le32(image.code.data.data() + fixup.offset));
    }
    for (const Fixup& fixup : image.const_segment.fixups)
        add(out, "  const+0x%05x: %s\n", fixup.offset, kind_name(fixup.kind));
    add_list(out, "1 (identifiers)", image.relocations.identifiers, image.code.data);
    add_list(out, "2 (DLL declarations)", image.relocations.dll_numbers, image.code.data);
    add_list(out, "3 (library positions)", image.relocations.library_positions, image.code.data);
    add_list(out, "4 (type references)", image.relocations.type_references, image.code.data);
    for (const Window& window : image.windows) {
        add(out, "window 0x%08x block 0x%08x\n", window.id, window.block_id);
        for (const Unit& unit : window.units) {
            add(out,
                "  unit 0x%08x type 0x%08x \"%s\" at %d,%d %dx%d flags %u parent 0x%08x, %zu "
                "children, %zu property bytes\n",
                unit.id, unit.type, utf8_of(unit.name).c_str(), unit.left, unit.top, unit.width,
                unit.height, unit.flags, unit.parent, unit.children.size(), unit.properties.size());
            for (const UnitEvent& event : unit.events)
                add(out, "    event %d -> code+0x%x\n", event.event, event.handler);
        }
    }
    return out;
}

}  // namespace image::link
