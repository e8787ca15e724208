// assemble: makes a program from the loader stub, its program image and the
// runtime files that its package carries.
//
//   assemble --stub FILE --image FILE --out FILE [--folder-name NAME]
//            [--folder-number N] [--key K] [--level 0-9] [NAME=]FILE...
//
// Without --folder-name the runtime folder is "E_N%X" of a folder number
// derived from the runtime files' content, unless --folder-number sets it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "loader/assemble/attach.h"
#include "loader/package/writer.h"

namespace {

std::optional<std::vector<uint8_t>> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool write_file_replacing(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
            return false;
    }
    chmod(temporary.c_str(), 0755);
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

[[noreturn]] void die(const std::string& message) {
    std::fprintf(stderr, "assemble: %s\n", message.c_str());
    std::exit(1);
}

std::optional<uint32_t> parse_u32(const std::string& text) {
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
    std::string stub_path, image_path, out_path, folder_name;
    std::optional<uint32_t> folder_number, key;
    int level = 9;
    std::vector<loader::RuntimeFile> files;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                die("missing value after " + arg);
            return argv[++i];
        };
        if (arg == "--stub") {
            stub_path = value();
        } else if (arg == "--image") {
            image_path = value();
        } else if (arg == "--out") {
            out_path = value();
        } else if (arg == "--folder-name") {
            folder_name = value();
        } else if (arg == "--folder-number") {
            if (!(folder_number = parse_u32(value())))
                die("bad --folder-number");
        } else if (arg == "--key") {
            if (!(key = parse_u32(value())))
                die("bad --key");
        } else if (arg == "--level") {
            auto parsed = parse_u32(value());
            if (!parsed || *parsed > 9)
                die("bad --level");
            level = static_cast<int>(*parsed);
        } else if (arg.starts_with("--")) {
            die("unknown option " + arg);
        } else {
            size_t equals = arg.find('=');
            std::string path = equals == std::string::npos ? arg : arg.substr(equals + 1);
            std::string name = equals == std::string::npos ? arg.substr(arg.rfind('/') + 1)
                                                           : arg.substr(0, equals);
            auto content = read_file(path);
            if (!content)
                die("cannot read runtime file " + path);
            files.push_back({name, std::move(*content)});
        }
    }
    if (stub_path.empty() || image_path.empty() || out_path.empty())
        die("--stub, --image and --out are required");

    auto stub = read_file(stub_path);
    auto image = read_file(image_path);
    if (!stub)
        die("cannot read stub " + stub_path);
    if (!image)
        die("cannot read image " + image_path);

    auto program = loader::attach_image(*stub, *image);
    if (program.is_error())
        die(program.error());

    const uint32_t number = folder_number.value_or(loader::content_folder_number(files));
    // The key only has to differ between runtimes; derive it from the number.
    const uint32_t scramble_key = key.value_or(((number << 13) | (number >> 19)) ^ 0x9E3779B9u);
    auto package = loader::build_package(files, number, folder_name, scramble_key, level);
    loader::append_package(program.value(), package);

    if (!write_file_replacing(out_path, program.value()))
        die("cannot write " + out_path);
    return 0;
}
