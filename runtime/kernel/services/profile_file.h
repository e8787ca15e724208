// Profile files: INI text in GBK, read and written as Windows does for
// programs of the code page 936.
//
//   ; a comment line                     (';' first: never a key)
//   key before any section=unreachable   (belongs to no section)
//   [ Section ]                          (name between '[' and the line's last ']')
//     Key = "value"                      (reads as: value)
//   a line without '=' is no key
//
// Reading:
// - Section and key names are trimmed of spaces and tabs and compared with
//   the letters A-Z folded, as Windows does for the ANSI code page 936: a
//   double-byte character is compared byte for byte (full-width, Greek and
//   Cyrillic letters keep their case), and its trail byte is never folded
//   nor taken for ']', even when it is a Latin letter or 0x5D.
// - A value is trimmed of spaces and tabs; then one pair of matching quotes
//   ('…' or "…") around it is dropped. '=' after the first one is part of the
//   value.
// - The first of duplicate sections wins (the keys of later ones are not
//   seen), and the first of duplicate keys within it.
// - Lines end in CR LF, LF or CR. A missing file, section or key reads as the
//   empty text.
//
// Writing keeps every other line byte for byte: an existing key's line
// becomes "<key as written there>=<value>" (its indentation kept), a new key
// goes after the last line of its section that is not blank or a comment, a
// new section goes to the end of the file, and a missing file is created.
// New lines take the file's first line end (CR LF for a new file). Names
// that could not be read back as written (empty, with a line break, a key
// with '=' or starting with '[' or ';') and values with a line break are
// refused.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/kernel/services/profile_storage.h"

namespace kernel {

// One version of a profile file, parsed once; lookups are hash lookups.
class ProfileText {
  public:
    explicit ProfileText(std::string bytes);
    ProfileText(ProfileText&&) = default;
    ProfileText& operator=(ProfileText&&) = default;

    // The value, as a program reads it; empty when missing.
    std::string_view read(std::string_view section, std::string_view key) const;
    // The whole text with the key set to `value`, or nullopt when the names
    // or the value cannot be written.
    std::optional<std::string> written(std::string_view section, std::string_view key,
                                       std::string_view value) const;

    const std::string& bytes() const { return bytes_; }

  private:
    struct Key {
        uint32_t name_begin;  // the key's first byte (after indentation)
        uint32_t name_end;    // after its last byte (trimmed)
        uint32_t value_begin;
        uint32_t value_end;  // the value, trimmed, quotes not yet dropped
        uint32_t line_end;   // where the line's end (CR, LF) starts
    };
    struct Section {
        uint32_t last_line_end;  // the end of its last line that counts (see written())
        uint32_t after_last;     // after that line's line end
    };
    // A key by its folded section and key names.
    struct KeyName {
        std::string_view section;
        std::string_view key;
        bool operator==(const KeyName&) const = default;
    };
    struct KeyNameHash {
        size_t operator()(const KeyName& name) const;
    };

    void parse();
    const Key* find(std::string_view folded_section, std::string_view folded_key) const;

    std::string bytes_;
    // The bytes with every section and key name folded in place (folding
    // keeps lengths); the maps' names point into it. A vector, so that the
    // names stay where they are when the text moves.
    std::vector<char> folded_;
    std::string_view line_end_ = "\r\n";                            // for new lines
    std::unordered_map<std::string_view, uint32_t> section_index_;  // first of each name
    std::vector<Section> sections_;
    // The keys of the first section of each name, the first of each name.
    std::unordered_map<KeyName, Key, KeyNameHash> keys_;
};

// The profile files of the process. Each file is parsed once per version:
// while its size, times and identity stay the same, reads take the parsed
// text; a write replaces the file and keeps what it wrote.
class ProfileFiles {
  public:
    std::string read(std::string_view gbk_path, std::string_view section, std::string_view key);
    bool write(std::string_view gbk_path, std::string_view section, std::string_view key,
               std::string_view value);

    // How many times a file's bytes were parsed (for tests and benchmarks).
    uint64_t parses() const { return parses_; }
    // How many times a file's bytes were read.
    uint64_t reads() const { return reads_; }

  private:
    struct Entry {
        SystemPath path;
        FileStamp stamp;
        ProfileText text;
        // Read so soon after its last write that a newer version with the
        // same stamp could follow: compared by content until it is older.
        bool racy;
    };
    static constexpr size_t kMaxEntries = 8;

    // The system's form of a path; the last one is kept, as a program reads
    // many keys of one file in a row.
    const SystemPath* system_path(std::string_view gbk_path);
    base::Result<Entry*> current(const SystemPath& path);
    Entry* keep(const SystemPath& path, const FileStamp& stamp, std::string bytes);
    void drop(const SystemPath& path);

    std::vector<std::unique_ptr<Entry>> entries_;  // most recently used first
    std::optional<std::string> last_gbk_path_;
    std::optional<SystemPath> last_path_;
    uint64_t parses_ = 0;
    uint64_t reads_ = 0;
};

// The instance the kernel commands use.
ProfileFiles& profile_files();

}  // namespace kernel
