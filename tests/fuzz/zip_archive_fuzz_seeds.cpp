// Writes the seed inputs of zip_archive_fuzz into the folder given as the
// only argument: sound archives of stored and deflated entries (GBK and
// UTF-8 names, extended timestamps, an empty entry), and archives that lie
// about a size or a CRC, so that the fuzzer starts inside every check.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/services/archives/zip_fixture.h"

namespace {

namespace fs = std::filesystem;
using archive_fixture::Entry;

void write_seed(const fs::path& folder, const std::string& name,
                const std::vector<Entry>& entries) {
    const std::vector<uint8_t> bytes = archive_fixture::build(entries);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    fs::create_directories(folder);

    const std::string text = "line one\r\nline two\r\nline one\r\nline two\r\n";
    const std::string runs(3000, 'a');
    write_seed(folder, "stored-and-deflated",
               {{"readme.txt", text},
                {"runs.dat", runs, true},
                {"\xD6\xD0\xCE\xC4.txt", "gbk name", true},
                {"empty", ""}});
    write_seed(folder, "utf8-name-and-time",
               {{"\xE4\xB8\xAD.txt", text, true, 0x0800, std::nullopt, std::nullopt, 0x6000, 0x52CF,
                 archive_fixture::extended_time(1623760497)}});
    write_seed(folder, "size-lie", {{"bomb", runs, true, 0, std::nullopt, 100}});
    write_seed(folder, "crc-lie", {{"c.txt", text, true, 0, 0x12345678}});
    write_seed(folder, "same-name", {{"a.txt", "x"}, {"A.TXT", "y"}});
    return 0;
}
