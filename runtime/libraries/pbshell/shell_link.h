// The shell link file (".lnk"): the records of the binary format that the
// Windows shell reads, and a writer of the one kind of link this library
// makes: a target path, an optional description and working folder.
//
// A link holds, in this order: the header; a LinkInfo when the target is a
// local drive path ("C:\..."); the string data (description, relative path,
// working folder), each a 16-bit character count and UTF-16LE characters;
// and the terminal block of the extra data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pbshell {

// The header that starts every link file (76 bytes on disk).
struct ShellLinkHeader {
    uint32_t header_size = 0x4C;  // size of this record; always 0x4C
    uint8_t link_clsid[16] =
        {};  // class identifier of shell links, 00021401-0000-0000-C000-000000000046
    uint32_t link_flags = 0;       // which of the optional records follow (kHas*, kIsUnicode)
    uint32_t file_attributes = 0;  // the target's attributes when the link was made; 0: not known
    uint64_t creation_time = 0;    // the target's times as FILETIME values; 0: not known
    uint64_t access_time = 0;
    uint64_t write_time = 0;
    uint32_t file_size = 0;     // the target's size (low 32 bits); 0: not known
    int32_t icon_index = 0;     // index of the icon inside the icon location; none given
    uint32_t show_command = 1;  // how the target's window opens: 1 SW_SHOWNORMAL
    uint16_t hot_key = 0;       // keyboard shortcut: none
    uint16_t reserved1 = 0;     // must be zero
    uint32_t reserved2 = 0;     // must be zero
    uint32_t reserved3 = 0;     // must be zero
};
inline constexpr size_t kShellLinkHeaderSize = 76;

// LinkFlags bits.
inline constexpr uint32_t kHasLinkInfo = 0x02;      // a LinkInfo follows the header
inline constexpr uint32_t kHasName = 0x04;          // string data: the description
inline constexpr uint32_t kHasRelativePath = 0x08;  // string data: the target's path
inline constexpr uint32_t kHasWorkingDir = 0x10;    // string data: the working folder
inline constexpr uint32_t kIsUnicode = 0x80;        // string data is UTF-16LE

// LinkInfo: where the target lies. Only the local form is written: a volume
// and a base path on it; with the optional Unicode offsets (header 0x24).
struct LinkInfoHeader {
    uint32_t link_info_size = 0;                       // the whole LinkInfo, this header included
    uint32_t link_info_header_size = 0x24;             // 0x24: the two Unicode offsets are present
    uint32_t link_info_flags = 1;                      // 1 VolumeIDAndLocalBasePath
    uint32_t volume_id_offset = 0;                     // from the LinkInfo's start to the VolumeID
    uint32_t local_base_path_offset = 0;               // to the ANSI base path (zero-terminated)
    uint32_t common_network_relative_link_offset = 0;  // none: 0
    uint32_t common_path_suffix_offset = 0;            // to the ANSI suffix (empty)
    uint32_t local_base_path_offset_unicode = 0;       // to the UTF-16 base path
    uint32_t common_path_suffix_offset_unicode = 0;    // to the UTF-16 suffix (empty)
};
inline constexpr size_t kLinkInfoHeaderSize = 0x24;

// VolumeID: the volume that holds the target (16 bytes, then its label).
struct VolumeId {
    uint32_t volume_id_size = 0;          // this record with its label
    uint32_t drive_type = 3;              // 3 DRIVE_FIXED
    uint32_t drive_serial_number = 0;     // not known: 0
    uint32_t volume_label_offset = 0x10;  // from the record's start to the ANSI label (empty)
};
inline constexpr size_t kVolumeIdSize = 16;

// What a link says, in the forms the file takes.
struct ShellLinkContent {
    // The target: a local drive path ("C:\dir\file.exe") goes into the
    // LinkInfo, in the ANSI code page and in UTF-16; any other path becomes
    // the relative path string.
    std::string target_ansi;
    std::u16string target;
    std::u16string description;     // empty: none
    std::u16string working_folder;  // empty: none
};

// Whether an ANSI path names a place on a local drive: letter, ':' and '\'.
bool is_drive_path(const std::string& ansi);

// The file's bytes; nullopt when a string is longer than the format's
// 16-bit character count takes.
std::optional<std::vector<uint8_t>> build_shell_link(const ShellLinkContent& content);

}  // namespace pbshell
