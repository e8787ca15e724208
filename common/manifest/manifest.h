// The update manifest "up.dat" that the package generator writes and the
// updater reads: a profile file (CR LF lines, "[section]" headers,
// "key=value" entries) with one section per file, named by the file's bare
// name, holding "文件名", "文件路径", "文件日期" and, for a file packed in
// this generation, "文件尺寸"; the section "版本" with "版本号" comes last.
//
// Manifest holds one in memory with the profile rules for reading and
// writing (section and key names match with A-Z case ignored, values are
// trimmed and lose surrounding quotes, the first of duplicates wins; a write
// to a missing section appends it, a write to a missing key appends it to its
// section), so that a walk over tens of thousands of files reads its
// baseline and writes its manifest once each instead of once per entry.
// Freestanding: for program images.
#pragma once

#include <stdint.h>

#include "common/manifest/text_buffer.h"

namespace common {

// Names of the manifest and the folders around it (GBK).
inline constexpr char kManifestName[] = "up.dat";
inline constexpr char kManifestArchiveName[] = "up.dat.zip";
inline constexpr char kArchiveSuffix[] = ".zip";
inline constexpr char kWorkFolderName[] = "update";
inline constexpr char kUploadFolderName[] = "上传到服务器的更新文件";
inline constexpr char kNotesFileName[] = "更新说明.TXT";

inline constexpr char kKeyFileName[] = "文件名";
inline constexpr char kKeyFilePath[] = "文件路径";
inline constexpr char kKeyFileDate[] = "文件日期";
inline constexpr char kKeyFileSize[] = "文件尺寸";
inline constexpr char kVersionSection[] = "版本";
inline constexpr char kVersionKey[] = "版本号";

class Manifest {
  public:
    Manifest() = default;
    Manifest(const Manifest&) = delete;
    Manifest& operator=(const Manifest&) = delete;
    ~Manifest() { clear(); }

    // Reads a profile file's bytes (replacing what was held).
    void parse(const uint8_t* bytes, uint32_t length);
    void clear();

    // The value of `key` in `section`; null when either is missing.
    const char* value(const char* section, const char* key) const;
    // Writes `key` = `value` in `section` by the profile rules.
    void set(const char* section, const char* key, const char* value);

    // One file's section: its name, its path relative to the release folder
    // (starting with a backslash) and its time stamp text, in that order.
    void add_file(const char* name, const char* relative_path, const char* time_text);
    // The size of the file's archive in this generation's version folder.
    void set_archive_size(const char* name, int64_t size);
    void set_version(const char* version) { set(kVersionSection, kVersionKey, version); }

    // The whole file: CR LF lines, sections and entries in their order.
    void render(TextBuffer& out) const;

    uint32_t section_count() const { return section_count_; }

  private:
    struct Entry {
        const char* key;
        const char* value;
        uint32_t next;  // index + 1 of the section's next entry, 0 at its end
    };
    struct Section {
        const char* name;
        uint32_t first;  // index + 1 of its first entry, 0 when it has none
        uint32_t last;
        bool indexed;  // false for a later duplicate, which lookups never find
    };

    const char* keep(const char* text, uint32_t length);
    int64_t find_section(const char* name) const;  // index, or -1
    uint32_t add_section(const char* name, uint32_t length);
    void add_entry(uint32_t section, const char* key, uint32_t key_length, const char* value,
                   uint32_t value_length);
    Entry* find_entry(uint32_t section, const char* key) const;
    void grow_index();

    Section* sections_ = nullptr;
    uint32_t section_count_ = 0;
    uint32_t section_capacity_ = 0;
    Entry* entries_ = nullptr;
    uint32_t entry_count_ = 0;
    uint32_t entry_capacity_ = 0;
    uint32_t* index_ = nullptr;  // open addressing: section index + 1, 0 when free
    uint32_t index_capacity_ = 0;
    uint32_t indexed_count_ = 0;
    struct Chunk;
    Chunk* chunks_ = nullptr;  // where the texts are kept
};

// Whether the file `name` in `folder` (the whole path, ending with a
// separator) belongs in a manifest: not "up.dat", nothing inside a folder
// named "update", and for the generator nothing inside its upload folder.
bool manifest_eligible(const char* folder, const char* name, bool skip_upload_folder);

// "文件路径": the part of `folder` after the first `root_length` bytes (the
// release or updater folder without its final separator), then `name`.
void relative_path(TextBuffer& out, const char* folder, uint32_t root_length, const char* name);

// `folder`, a backslash unless it ends with a separator, then `name`.
void join_path(TextBuffer& out, const char* folder, const char* name);

}  // namespace common
