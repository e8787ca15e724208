// imagelink: the image linker.
//
//   imagelink prepare --description FILE --out-dir DIR
//       writes DIR/form.bin and DIR/form.S (the form segment to link with the
//       code, handler offsets still 0) and DIR/handlers.ld (keeps every
//       handler routine through --gc-sections), DIR/units.h (the typed
//       handles of the windows and units by their code names) and
//       DIR/start_window.cpp (the start window for the SDK's start routine)
//   imagelink link --description FILE --elf FILE --out FILE
//       turns the linked ELF into the program image
//   imagelink dump FILE
//       prints an image: header, declarations, libraries, segments, slot
//       thunks, relocation lists, windows and units
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/format/image.h"
#include "image/link/description.h"
#include "image/link/dump.h"
#include "image/link/linker.h"
#include "image/link/program_header.h"

namespace {

namespace fs = std::filesystem;
using namespace image::link;

[[noreturn]] void die(const std::string& message) {
    std::fprintf(stderr, "imagelink: %s\n", message.c_str());
    std::exit(1);
}

std::vector<uint8_t> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        die("cannot read " + path.string());
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const std::string& bytes) {
    fs::path temporary = path;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
            die("cannot write " + temporary.string());
    }
    fs::rename(temporary, path);
}

std::string as_text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

ProgramDescription load_description(const fs::path& path) {
    auto description = parse_description(as_text(read_file(path)), path.parent_path());
    if (description.is_error())
        die(path.string() + ": " + description.error().message());
    return description.release_value();
}

struct Options {
    std::string description, out_dir, elf, out;
    std::vector<std::string> positional;
};

Options parse_options(int argc, char** argv) {
    Options options;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                die("missing value after " + arg);
            return argv[++i];
        };
        if (arg == "--description")
            options.description = value();
        else if (arg == "--out-dir")
            options.out_dir = value();
        else if (arg == "--elf")
            options.elf = value();
        else if (arg == "--out")
            options.out = value();
        else if (arg.starts_with("--"))
            die("unknown option " + arg);
        else
            options.positional.push_back(arg);
    }
    return options;
}

int prepare(const Options& options) {
    if (options.description.empty() || options.out_dir.empty())
        die("prepare needs --description and --out-dir");
    ProgramDescription description = load_description(options.description);
    auto form = placeholder_form(description);
    if (form.is_error())
        die(form.error());
    fs::path dir = fs::absolute(options.out_dir);
    fs::create_directories(dir);
    write_file(dir / "form.bin", as_text(form.value()));
    write_file(dir / "form.S", ".section .form,\"a\",@progbits\n.incbin \"" +
                                   (dir / "form.bin").string() +
                                   "\"\n.section .note.GNU-stack,\"\",@progbits\n");
    std::string handlers;
    for (const std::string& name : description.handler_names())
        handlers += "EXTERN(" + name + ")\n";
    write_file(dir / "handlers.ld", handlers);
    const std::string source_name = fs::path(options.description).stem().string();
    write_file(dir / "units.h", units_header(description, source_name));
    write_file(dir / "start_window.cpp", start_window_source(description));
    return 0;
}

int link(const Options& options) {
    if (options.description.empty() || options.elf.empty() || options.out.empty())
        die("link needs --description, --elf and --out");
    ProgramDescription description = load_description(options.description);
    std::vector<uint8_t> elf_bytes = read_file(options.elf);
    auto elf = ElfFile::parse(elf_bytes);
    if (elf.is_error())
        die(options.elf + ": " + elf.error().message());
    auto linked = link_image(elf.value(), description);
    if (linked.is_error())
        die(options.elf + ": " + linked.error().message());
    auto bytes = image::write_image(linked.value());
    if (bytes.is_error())
        die(bytes.error());
    write_file(options.out, as_text(bytes.value()));
    return 0;
}

int dump(const Options& options) {
    if (options.positional.size() != 1)
        die("dump takes one image file");
    std::vector<uint8_t> bytes = read_file(options.positional[0]);
    auto text = dump_image(bytes);
    if (text.is_error())
        die(text.error());
    std::fputs(text.value().c_str(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        die("usage: imagelink prepare|link|dump ...");
    std::string command = argv[1];
    Options options = parse_options(argc, argv);
    if (command == "prepare")
        return prepare(options);
    if (command == "link")
        return link(options);
    if (command == "dump")
        return dump(options);
    die("unknown command " + command);
}
