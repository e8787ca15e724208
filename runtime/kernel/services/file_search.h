// The runtime's file search (service 0 and 1): a program asks for the files
// or folders that match a pattern such as "C:\release\*.*", one name per
// call, keeping the search in a variable of its own.
//
// Names come in the same order on every system: sorted by their GBK bytes
// with A-Z folded to a-z, so that what a program builds from a walk (a
// manifest, a list) does not depend on the file system's order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kernel {

// Attribute filter bits a program passes; the directory bit asks for
// folders, no bit for files (hidden and system files included).
inline constexpr uint32_t kSearchDirectories = 0x10;

// Whether a GBK file name matches a pattern of * and ? (A-Z letter case
// ignored; "*.*" matches every name, with or without a dot).
bool matches_pattern(std::string_view name, std::string_view pattern);

struct DirectoryEntry {
    std::string name;  // GBK
    bool is_directory = false;
};

// The entries of a folder (a GBK path, either separator), without "." and
// "..", or nullopt when it cannot be read. One implementation per system.
std::optional<std::vector<DirectoryEntry>> list_directory(std::string_view gbk_folder);

class FileSearches {
public:
    // Starts a search: the matching names of the pattern's folder, in order.
    // Gives the search's handle (never 0).
    uint32_t start(std::string_view gbk_pattern, uint32_t attributes);
    // The next name of a search, or nullopt when it is done (the search then
    // ends) or the handle names none.
    std::optional<std::string> next(uint32_t handle);
    void end(uint32_t handle);

private:
    struct Search {
        std::vector<std::string> names;
        size_t position = 0;
    };
    std::map<uint32_t, Search> searches_;
    uint32_t next_handle_ = 1;
};

}  // namespace kernel
