#include "runtime/kernel/services/profile_file.h"

#include <algorithm>
#include <cstring>

#include "base/gbk.h"

namespace kernel {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool has_line_break(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// Whether "[section]" reads back as this section: its ']' must not become
// the trail byte of a lone lead byte at the name's end.
bool closes_header(std::string_view section) {
    const std::string header = std::string(section) + "]";
    bool closed = false;
    base::for_each_gbk_char(header, [&](size_t offset, size_t length) {
        closed = length == 1 && offset == section.size();
    });
    return closed;
}

// Whether a version read now could be followed by another with the same
// stamp: its last write lies less than the clock's coarsest step back. A
// write time ahead of the clock (a skewed or unpacked file) is not: the next
// write takes the clock's time, which differs from it.
bool is_racy(const FileStamp& stamp) {
    const int64_t age = storage_now() - stamp.write_time;
    return age >= 0 && age < storage_racy_window();
}

// Folds A-Z to a-z in place, skipping double-byte characters whole.
void fold(char* name, size_t length) {
    base::for_each_gbk_char(std::string_view(name, length), [&](size_t offset, size_t size) {
        char& c = name[offset];
        if (size == 1 && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    });
}

// A name as it is compared: trimmed and folded.
std::string folded(std::string_view name) {
    std::string out(trim(name));
    fold(out.data(), out.size());
    return out;
}

}  // namespace

size_t ProfileText::KeyNameHash::operator()(const KeyName& name) const {
    const std::hash<std::string_view> hash;
    return hash(name.section) * 31 + hash(name.key);
}

ProfileText::ProfileText(std::string bytes) : bytes_(std::move(bytes)) {
    parse();
}

void ProfileText::parse() {
    const std::string_view text = bytes_;
    folded_.assign(text.begin(), text.end());
    const size_t first_break = text.find_first_of("\r\n");
    if (first_break != std::string_view::npos && text[first_break] == '\n')
        line_end_ = "\n";
    // Enough room for a file of one key per line: no rehashing while parsing.
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    keys_.reserve(lines);

    constexpr uint32_t kNoSection = UINT32_MAX;
    uint32_t section = kNoSection;
    std::string_view section_name;
    bool shadowed = false;  // a later section of a name seen before: its keys are not seen
    size_t position = 0;
    while (position < text.size()) {
        // One line: [begin, end) and its line end [end, next).
        const size_t begin = position;
        size_t end = begin;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        size_t next = end;
        if (next < text.size())
            next +=
                (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
        position = next;

        size_t first = begin;
        while (first < end && is_blank(text[first]))
            ++first;
        size_t last = end;
        while (last > first && is_blank(text[last - 1]))
            --last;
        if (first == last || text[first] == ';')
            continue;  // blank or comment

        if (text[first] == '[') {
            // The name ends at the line's last ']' that is a character of its
            // own, not the trail byte of a double-byte one.
            const std::string_view inside = text.substr(first + 1, last - first - 1);
            size_t close = std::string_view::npos;
            base::for_each_gbk_char(inside, [&](size_t offset, size_t length) {
                if (length == 1 && inside[offset] == ']')
                    close = offset;
            });
            if (close != std::string_view::npos) {
                section = static_cast<uint32_t>(sections_.size());
                sections_.push_back({static_cast<uint32_t>(end), static_cast<uint32_t>(next)});
                const std::string_view name = trim(inside.substr(0, close));
                char* at = folded_.data() + (name.data() - text.data());
                fold(at, name.size());
                section_name = std::string_view(at, name.size());
                shadowed = !section_index_.emplace(section_name, section).second;
                continue;
            }
            // Without ']' the line is no header: an ordinary line below.
        }
        if (section == kNoSection)
            continue;
        sections_[section] = {static_cast<uint32_t>(end), static_cast<uint32_t>(next)};
        const size_t found_equals = text.substr(first, last - first).find('=');
        if (found_equals == std::string_view::npos || shadowed)
            continue;  // a line without '=' is no key ('=' is never a trail byte)
        const size_t equals = first + found_equals;
        size_t name_end = equals;
        while (name_end > first && is_blank(text[name_end - 1]))
            --name_end;
        if (name_end == first)
            continue;  // "=value": no name
        size_t value_begin = equals + 1;
        while (value_begin < last && is_blank(text[value_begin]))
            ++value_begin;
        char* at = folded_.data() + first;
        fold(at, name_end - first);
        keys_.emplace(KeyName{section_name, std::string_view(at, name_end - first)},
                      Key{static_cast<uint32_t>(first), static_cast<uint32_t>(name_end),
                          static_cast<uint32_t>(value_begin), static_cast<uint32_t>(last),
                          static_cast<uint32_t>(end)});
    }
}

const ProfileText::Key* ProfileText::find(std::string_view folded_section,
                                          std::string_view folded_key) const {
    const auto found = keys_.find(KeyName{folded_section, folded_key});
    return found == keys_.end() ? nullptr : &found->second;
}

std::string_view ProfileText::read(std::string_view section, std::string_view key) const {
    const std::string folded_section = folded(section);
    const std::string folded_key = folded(key);
    if (folded_section.empty() || folded_key.empty())
        return {};  // "[]" and "=value" name nothing
    const Key* entry = find(folded_section, folded_key);
    if (entry == nullptr)
        return {};
    std::string_view value =
        std::string_view(bytes_).substr(entry->value_begin, entry->value_end - entry->value_begin);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

std::optional<std::string> ProfileText::written(std::string_view section, std::string_view key,
                                                std::string_view value) const {
    section = trim(section);
    key = trim(key);
    if (section.empty() || key.empty() || has_line_break(section) || has_line_break(key) ||
        has_line_break(value) || key.find('=') != std::string_view::npos || key.front() == '[' ||
        key.front() == ';' || !closes_header(section))
        return std::nullopt;

    std::string out;
    out.reserve(bytes_.size() + section.size() + key.size() + value.size() + 8);
    const std::string_view text = bytes_;
    const std::string folded_section = folded(section);
    if (const Key* entry = find(folded_section, folded(key))) {
        out.append(text.substr(0, entry->name_end));
        out += '=';
        out.append(value);
        out.append(text.substr(entry->line_end));
        return out;
    }
    const auto found = section_index_.find(folded_section);
    if (found != section_index_.end()) {
        const Section& at = sections_[found->second];
        if (at.after_last > at.last_line_end) {
            out.append(text.substr(0, at.after_last));
        } else {  // the file's last line, without a line end
            out.append(text.substr(0, at.last_line_end));
            out.append(line_end_);
        }
        out.append(key);
        out += '=';
        out.append(value);
        out.append(line_end_);
        out.append(text.substr(at.after_last));
        return out;
    }
    out.append(text);
    if (!out.empty() && out.back() != '\n' && out.back() != '\r')
        out.append(line_end_);
    out += '[';
    out.append(section);
    out += ']';
    out.append(line_end_);
    out.append(key);
    out += '=';
    out.append(value);
    out.append(line_end_);
    return out;
}

base::Result<ProfileFiles::Entry*> ProfileFiles::current(const SystemPath& path) {
    auto cached = std::find_if(entries_.begin(), entries_.end(),
                               [&](const auto& entry) { return entry->path == path; });
    auto stamp = stamp_file(path);
    if (stamp.is_error()) {
        if (cached != entries_.end())
            entries_.erase(cached);
        return base::fail(stamp.error());
    }
    if (cached != entries_.end()) {
        std::rotate(entries_.begin(), cached, cached + 1);  // most recently used first
        Entry* entry = entries_.front().get();
        if (entry->stamp == stamp.value() && !entry->racy)
            return entry;
    }
    ++reads_;
    auto file = read_stored_file(path);
    if (file.is_error()) {
        drop(path);
        return base::fail(file.error());
    }
    StoredFile& stored = file.value();
    if (!entries_.empty() && entries_.front()->path == path) {
        Entry* entry = entries_.front().get();
        if (entry->stamp == stored.stamp && entry->text.bytes() == stored.bytes) {
            entry->racy = is_racy(stored.stamp);
            return entry;
        }
    }
    return keep(path, stored.stamp, std::move(stored.bytes));
}

ProfileFiles::Entry* ProfileFiles::keep(const SystemPath& path, const FileStamp& stamp,
                                        std::string bytes) {
    drop(path);
    ++parses_;
    auto entry =
        std::make_unique<Entry>(Entry{path, stamp, ProfileText(std::move(bytes)), is_racy(stamp)});
    if (entries_.size() >= kMaxEntries)
        entries_.pop_back();
    entries_.insert(entries_.begin(), std::move(entry));
    return entries_.front().get();
}

void ProfileFiles::drop(const SystemPath& path) {
    std::erase_if(entries_, [&](const auto& entry) { return entry->path == path; });
}

const SystemPath* ProfileFiles::system_path(std::string_view gbk_path) {
    if (!last_gbk_path_ || *last_gbk_path_ != gbk_path) {
        last_gbk_path_ = std::string(gbk_path);
        last_path_ = to_system_path(gbk_path);
    }
    return last_path_ ? &*last_path_ : nullptr;
}

std::string ProfileFiles::read(std::string_view gbk_path, std::string_view section,
                               std::string_view key) {
    const SystemPath* path = system_path(gbk_path);
    if (path == nullptr)
        return {};
    auto entry = current(*path);
    if (entry.is_error())
        return {};
    return std::string(entry.value()->text.read(section, key));
}

bool ProfileFiles::write(std::string_view gbk_path, std::string_view section, std::string_view key,
                         std::string_view value) {
    const SystemPath* path = system_path(gbk_path);
    if (path == nullptr)
        return false;
    auto entry = current(*path);
    if (entry.is_error() && entry.error() != base::Error::FileNotFound)
        return false;
    const ProfileText empty{std::string()};
    const ProfileText& text = entry.is_error() ? empty : entry.value()->text;
    auto bytes = text.written(section, key, value);
    if (!bytes || bytes->size() > kMaxProfileFileSize)
        return false;
    if (!entry.is_error() && *bytes == text.bytes())
        return true;  // nothing changes
    auto stamp = replace_stored_file(*path, *bytes);
    if (stamp.is_error()) {
        drop(*path);
        return false;
    }
    keep(*path, stamp.value(), std::move(*bytes));
    return true;
}

ProfileFiles& profile_files() {
    static ProfileFiles files;
    return files;
}

}  // namespace kernel
