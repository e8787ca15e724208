#include <dirent.h>
#include <sys/stat.h>

#include <string>

#include "base/encoding.h"
#include "base/gbk.h"
#include "runtime/kernel/services/file_search.h"

namespace kernel {

std::optional<std::vector<DirectoryEntry>> list_directory(std::string_view gbk_folder) {
    // On Linux a backslash in a path is a folder separator.
    std::string gbk(gbk_folder);
    base::for_each_gbk_char(gbk, [&](size_t offset, size_t length) {
        if (length == 1 && gbk[offset] == '\\')
            gbk[offset] = '/';
    });
    auto folder = base::gbk_to_utf8(gbk);
    if (!folder)
        return std::nullopt;
    DIR* directory = opendir(folder->c_str());
    if (directory == nullptr)
        return std::nullopt;
    std::vector<DirectoryEntry> entries;
    while (const dirent* entry = readdir(directory)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        auto gbk_name = base::utf8_to_gbk(name);
        if (!gbk_name)
            continue;  // a name no program could spell
        // A link counts as what it points to, as the search on Windows sees
        // a junction's target folder.
        struct stat st;
        std::string path = *folder + (folder->empty() || folder->back() == '/' ? "" : "/") + std::string(name);
        if (stat(path.c_str(), &st) != 0)
            continue;
        entries.push_back({std::move(*gbk_name), S_ISDIR(st.st_mode)});
    }
    closedir(directory);
    return entries;
}

}  // namespace kernel
