#include "runtime/kernel/services/file_search.h"

#include <algorithm>
#include <cstdint>

#include "base/gbk.h"

namespace kernel {

namespace {

char fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Splits a GBK path at its last separator, stepping over double-byte
// characters (whose trail byte may be 0x5C).
std::pair<std::string_view, std::string_view> split_last_component(std::string_view path) {
    size_t split = std::string_view::npos;
    base::for_each_gbk_char(path, [&](size_t offset, size_t length) {
        if (length == 1 && (path[offset] == '\\' || path[offset] == '/'))
            split = offset;
    });
    if (split == std::string_view::npos)
        return {std::string_view(), path};
    return {path.substr(0, split + 1), path.substr(split + 1)};
}

// A GBK text as characters: one byte, A-Z folded to a-z, or a double-byte
// character as lead << 8 | trail.
std::vector<uint16_t> characters(std::string_view text) {
    std::vector<uint16_t> out;
    base::for_each_gbk_char(text, [&](size_t offset, size_t length) {
        const auto lead = static_cast<unsigned char>(text[offset]);
        if (length == 2)
            out.push_back(static_cast<uint16_t>(lead << 8 | static_cast<unsigned char>(text[offset + 1])));
        else
            out.push_back(static_cast<unsigned char>(fold(static_cast<char>(lead))));
    });
    return out;
}

}  // namespace

bool matches_pattern(std::string_view name_text, std::string_view pattern_text) {
    if (pattern_text == "*.*")
        return true;
    const std::vector<uint16_t> name = characters(name_text);
    const std::vector<uint16_t> pattern = characters(pattern_text);
    // Wildcard matching with one backtrack point, the last *.
    size_t n = 0, p = 0, star = SIZE_MAX, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != SIZE_MAX) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

uint32_t FileSearches::start(std::string_view gbk_pattern, uint32_t attributes) {
    auto [folder, mask] = split_last_component(gbk_pattern);
    Search search;
    const bool want_directories = (attributes & kSearchDirectories) != 0;
    if (auto entries = list_directory(folder.empty() ? std::string_view(".") : folder)) {
        for (DirectoryEntry& entry : *entries) {
            if (entry.is_directory == want_directories && matches_pattern(entry.name, mask))
                search.names.push_back(std::move(entry.name));
        }
    }
    // Folded for the order, the bytes themselves to break ties.
    auto folded = [](const std::string& text) {
        std::string key = text;
        for (char& c : key)
            c = fold(c);
        return key;
    };
    std::sort(search.names.begin(), search.names.end(), [&](const std::string& a, const std::string& b) {
        const std::string ka = folded(a), kb = folded(b);
        return ka != kb ? ka < kb : a < b;
    });
    const uint32_t handle = next_handle_++;
    if (next_handle_ == 0)
        next_handle_ = 1;
    searches_[handle] = std::move(search);
    return handle;
}

std::optional<std::string> FileSearches::next(uint32_t handle) {
    auto found = searches_.find(handle);
    if (found == searches_.end())
        return std::nullopt;
    Search& search = found->second;
    if (search.position == search.names.size()) {
        searches_.erase(found);
        return std::nullopt;
    }
    return search.names[search.position++];
}

void FileSearches::end(uint32_t handle) {
    searches_.erase(handle);
}

}  // namespace kernel
