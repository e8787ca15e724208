// Writes the seed inputs of image_bind_fuzz into the folder given as the only
// argument: valid images of both architectures with slot thunks, fixups of
// every kind, all four relocation lists, DLL declarations, a window, and
// segments of zero size or a page and more, so that the fuzzer starts past
// the reader's checks, inside binding.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "contract/runtime_abi.h"
#include "image/format/image.h"

namespace {

using namespace image;
namespace fs = std::filesystem;

class Code {
  public:
    uint32_t here() const { return static_cast<uint32_t>(bytes.size()); }
    void u32(uint32_t value) {
        bytes.resize(bytes.size() + 4);
        base::store_le32(bytes.data() + bytes.size() - 4, value);
    }
    void fixup(FixupKind kind, uint32_t value) {
        fixups.push_back({here(), kind});
        u32(value);
    }
    std::vector<uint8_t> bytes;
    std::vector<Fixup> fixups;
};

// Thunks to every slot, then a routine that names every target and every list.
Image program(Architecture architecture, uint32_t var_size, size_t const_size) {
    Image model;
    model.architecture = architecture;
    model.libraries = {*known_library("krnln"), *known_library("eCompress")};
    model.dlls = {{"user32", "MessageBoxA"}, {"", "GetTickCount"}};
    model.const_segment.data.assign(const_size, 0x41);
    model.var_size = var_size;

    Code code;
    const bool wide = architecture == Architecture::X86_64;
    for (uint32_t slot = 0; slot < 4 * RT_SLOT_COUNT; slot += 4) {
        code.bytes.insert(code.bytes.end(), {0xFF, static_cast<uint8_t>(wide ? 0x24 : 0x25)});
        if (wide)
            code.bytes.push_back(0x25);
        code.fixup(FixupKind::SlotTable, wide ? 2 * slot : slot);
    }
    model.start_routine = code.here();
    if (var_size != 0) {
        code.bytes.push_back(0xB8);
        code.fixup(FixupKind::Var, var_size - 1);
    }
    code.bytes.push_back(0xB8);
    code.fixup(FixupKind::Const, static_cast<uint32_t>(const_size));  // the first DLL name
    code.bytes.push_back(0xB8);
    code.fixup(FixupKind::Code, model.start_routine);
    std::vector<uint32_t>* lists[] = {
        &model.relocations.identifiers, &model.relocations.dll_numbers,
        &model.relocations.library_positions, &model.relocations.type_references};
    const uint32_t values[] = {RT_START_WINDOW, 1, 1, RT_UNIT_BUTTON};
    for (size_t i = 0; i < 4; ++i) {
        code.bytes.push_back(0x68);
        lists[i]->push_back(code.here());
        code.u32(values[i]);
    }
    code.bytes.push_back(0xC3);
    model.code.data = code.bytes;
    model.code.fixups = code.fixups;
    if (const_size >= 4) {
        base::store_le32(model.const_segment.data.data(), model.start_routine);
        model.const_segment.fixups = {{0, FixupKind::Code}};
    }

    Unit own;
    own.id = 0x06010002;
    own.type = RT_UNIT_WINDOW;
    own.width = 320;
    own.height = 200;
    own.events = {{RT_EVENT_MAIN, model.start_routine}};
    model.windows = {{RT_START_WINDOW, 0, 0, 0, {own}}};
    model.next_free_id = 0x00010003;
    return model;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    fs::create_directories(folder);
    struct Seed {
        const char* name;
        Image model;
    };
    const Seed seeds[] = {
        {"i386", program(Architecture::I386, 0x40, 16)},
        {"x86_64", program(Architecture::X86_64, 0x40, 16)},
        {"i386_no_const_no_var", program(Architecture::I386, 0, 0)},
        {"x86_64_pages", program(Architecture::X86_64, 0x1001, 0x1000)},
    };
    for (const Seed& seed : seeds) {
        auto bytes = write_image(seed.model);
        if (bytes.is_error()) {
            std::fprintf(stderr, "seed %s: %s\n", seed.name, bytes.error().c_str());
            return 1;
        }
        std::ofstream out(folder / seed.name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.value().data()),
                  static_cast<std::streamsize>(bytes.value().size()));
        if (!out) {
            std::fprintf(stderr, "cannot write seed %s\n", seed.name);
            return 1;
        }
    }
    return 0;
}
