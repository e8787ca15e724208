#include "common/manifest/manifest.h"

#include "common/manifest/gbk_text.h"

namespace common {

namespace {

constexpr uint32_t kChunkSize = 64 * 1024;

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

uint32_t hash_folded(const char* text) {
    uint32_t hash = 2166136261u;
    for (const char* at = text; *at != '\0';) {
        const uint32_t length = gbk_char_length(at);
        for (uint32_t i = 0; i < length; ++i) {
            hash ^= static_cast<uint8_t>(length == 1 ? fold_ascii(at[i]) : at[i]);
            hash *= 16777619u;
        }
        at += length;
    }
    return hash;
}

template <typename T>
T* grown(T* items, uint32_t count, uint32_t& capacity) {
    const uint32_t bigger = capacity < 16 ? 16 : capacity * 2;
    T* fresh = static_cast<T*>(rt_heap_new(static_cast<uint32_t>(sizeof(T) * bigger)));
    for (uint32_t i = 0; i < count; ++i)
        fresh[i] = items[i];
    if (items != nullptr)
        rt_heap_free(items);
    capacity = bigger;
    return fresh;
}

// The text from `begin` to `end` without blanks around it.
void trim(const char*& begin, const char*& end) {
    while (begin < end && is_blank(*begin))
        ++begin;
    while (end > begin && is_blank(end[-1]))
        --end;
}

}  // namespace

struct Manifest::Chunk {
    Chunk* next;
    uint32_t used;
    uint32_t size;
    char* bytes() { return reinterpret_cast<char*>(this + 1); }
};

const char* Manifest::keep(const char* text, uint32_t length) {
    if (chunks_ == nullptr || chunks_->size - chunks_->used < length + 1) {
        const uint32_t size = length + 1 > kChunkSize ? length + 1 : kChunkSize;
        auto* chunk = static_cast<Chunk*>(rt_heap_new(static_cast<uint32_t>(sizeof(Chunk) + size)));
        chunk->next = chunks_;
        chunk->used = 0;
        chunk->size = size;
        chunks_ = chunk;
    }
    char* kept = chunks_->bytes() + chunks_->used;
    for (uint32_t i = 0; i < length; ++i)
        kept[i] = text[i];
    kept[length] = '\0';
    chunks_->used += length + 1;
    return kept;
}

void Manifest::clear() {
    while (chunks_ != nullptr) {
        Chunk* next = chunks_->next;
        rt_heap_free(chunks_);
        chunks_ = next;
    }
    if (sections_ != nullptr)
        rt_heap_free(sections_);
    if (entries_ != nullptr)
        rt_heap_free(entries_);
    if (index_ != nullptr)
        rt_heap_free(index_);
    sections_ = nullptr;
    entries_ = nullptr;
    index_ = nullptr;
    section_count_ = section_capacity_ = entry_count_ = entry_capacity_ = 0;
    index_capacity_ = indexed_count_ = 0;
}

int64_t Manifest::find_section(const char* name) const {
    if (index_capacity_ == 0)
        return -1;
    const uint32_t mask = index_capacity_ - 1;
    for (uint32_t slot = hash_folded(name) & mask;; slot = (slot + 1) & mask) {
        if (index_[slot] == 0)
            return -1;
        const uint32_t section = index_[slot] - 1;
        if (equal_folded(sections_[section].name, name))
            return section;
    }
}

void Manifest::grow_index() {
    const uint32_t capacity = index_capacity_ == 0 ? 64 : index_capacity_ * 2;
    auto* index = static_cast<uint32_t*>(rt_heap_new(capacity * sizeof(uint32_t)));
    for (uint32_t i = 0; i < capacity; ++i)
        index[i] = 0;
    for (uint32_t section = 0; section < section_count_; ++section) {
        if (!sections_[section].indexed)
            continue;
        uint32_t slot = hash_folded(sections_[section].name) & (capacity - 1);
        while (index[slot] != 0)
            slot = (slot + 1) & (capacity - 1);
        index[slot] = section + 1;
    }
    if (index_ != nullptr)
        rt_heap_free(index_);
    index_ = index;
    index_capacity_ = capacity;
}

uint32_t Manifest::add_section(const char* name, uint32_t length) {
    if (section_count_ == section_capacity_)
        sections_ = grown(sections_, section_count_, section_capacity_);
    const char* kept = keep(name, length);
    const uint32_t section = section_count_++;
    sections_[section] = Section{kept, 0, 0, find_section(kept) < 0};
    if (sections_[section].indexed) {
        if ((indexed_count_ + 1) * 2 > index_capacity_)
            grow_index();
        uint32_t slot = hash_folded(kept) & (index_capacity_ - 1);
        while (index_[slot] != 0)
            slot = (slot + 1) & (index_capacity_ - 1);
        index_[slot] = section + 1;
        ++indexed_count_;
    }
    return section;
}

void Manifest::add_entry(uint32_t section, const char* key, uint32_t key_length, const char* value,
                         uint32_t value_length) {
    if (entry_count_ == entry_capacity_)
        entries_ = grown(entries_, entry_count_, entry_capacity_);
    const uint32_t entry = entry_count_++;
    entries_[entry] = Entry{keep(key, key_length), keep(value, value_length), 0};
    Section& s = sections_[section];
    if (s.last == 0)
        s.first = entry + 1;
    else
        entries_[s.last - 1].next = entry + 1;
    s.last = entry + 1;
}

Manifest::Entry* Manifest::find_entry(uint32_t section, const char* key) const {
    for (uint32_t at = sections_[section].first; at != 0; at = entries_[at - 1].next) {
        if (equal_folded(entries_[at - 1].key, key))
            return &entries_[at - 1];
    }
    return nullptr;
}

void Manifest::parse(const uint8_t* bytes, uint32_t length) {
    clear();
    const char* text = reinterpret_cast<const char*>(bytes);
    const char* const end = text + length;
    int64_t section = -1;
    for (const char* line = text; line < end;) {
        const char* line_end = line;
        while (line_end < end && *line_end != '\n')
            ++line_end;
        const char* next = line_end < end ? line_end + 1 : end;
        if (line_end > line && line_end[-1] == '\r')
            --line_end;
        const char* begin = line;
        trim(begin, line_end);
        // A header's name ends at the line's last ']' that is a character of
        // its own: a file name may hold ']', and a double-byte character may
        // end in 0x5D. A line without one is no header.
        const char* close = nullptr;
        if (begin < line_end && *begin == '[') {
            for (const char* at = begin + 1; at < line_end;) {
                const uint32_t length = at + 1 < line_end ? gbk_char_length(at) : 1;
                if (length == 1 && *at == ']')
                    close = at;
                at += length;
            }
        }
        if (close != nullptr) {
            const char* name = begin + 1;
            const char* name_end = close;
            trim(name, name_end);
            section = add_section(name, static_cast<uint32_t>(name_end - name));
        } else if (section >= 0) {
            const char* equals = begin;
            while (equals < line_end && *equals != '=')
                ++equals;
            if (equals < line_end) {
                const char* key = begin;
                const char* key_end = equals;
                trim(key, key_end);
                const char* value = equals + 1;
                const char* value_end = line_end;
                trim(value, value_end);
                if (value_end - value >= 2 && (*value == '"' || *value == '\'') &&
                    value_end[-1] == *value) {
                    ++value;
                    --value_end;
                }
                add_entry(static_cast<uint32_t>(section), key, static_cast<uint32_t>(key_end - key),
                          value, static_cast<uint32_t>(value_end - value));
            }
        }
        line = next;
    }
}

const char* Manifest::value(const char* section, const char* key) const {
    const int64_t at = find_section(section);
    if (at < 0)
        return nullptr;
    const Entry* entry = find_entry(static_cast<uint32_t>(at), key);
    return entry != nullptr ? entry->value : nullptr;
}

void Manifest::set(const char* section, const char* key, const char* value) {
    int64_t at = find_section(section);
    if (at < 0)
        at = add_section(section, TextBuffer::length_of(section));
    const uint32_t value_length = TextBuffer::length_of(value);
    if (Entry* entry = find_entry(static_cast<uint32_t>(at), key)) {
        entry->value = keep(value, value_length);
        return;
    }
    add_entry(static_cast<uint32_t>(at), key, TextBuffer::length_of(key), value, value_length);
}

void Manifest::add_file(const char* name, const char* relative_path, const char* time_text) {
    set(name, kKeyFileName, name);
    set(name, kKeyFilePath, relative_path);
    set(name, kKeyFileDate, time_text);
}

void Manifest::set_archive_size(const char* name, int64_t size) {
    TextBuffer digits;
    digits << size;
    set(name, kKeyFileSize, digits.c_str());
}

void Manifest::render(TextBuffer& out) const {
    for (uint32_t section = 0; section < section_count_; ++section) {
        out << '[' << sections_[section].name << "]\r\n";
        for (uint32_t at = sections_[section].first; at != 0; at = entries_[at - 1].next)
            out << entries_[at - 1].key << '=' << entries_[at - 1].value << "\r\n";
    }
}

bool manifest_eligible(const char* folder, const char* name, bool skip_upload_folder) {
    if (equal_bytes(name, kManifestName))
        return false;
    if (contains_folder(folder, kWorkFolderName))
        return false;
    return !(skip_upload_folder && contains_folder(folder, kUploadFolderName));
}

void relative_path(TextBuffer& out, const char* folder, uint32_t root_length, const char* name) {
    const uint32_t length = TextBuffer::length_of(folder);
    const uint32_t start = root_length < length ? root_length : length;
    out.append(folder + start, length - start) << name;
}

void join_path(TextBuffer& out, const char* folder, const char* name) {
    out << folder;
    if (!ends_with_separator(folder))
        out << '\\';
    out << name;
}

}  // namespace common
