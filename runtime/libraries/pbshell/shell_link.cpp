#include "runtime/libraries/pbshell/shell_link.h"

#include "base/byte_reader.h"

namespace pbshell {

namespace {

constexpr uint8_t kShellLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

class Out {
  public:
    void u16(uint16_t v) {
        uint8_t b[2];
        base::store_le16(b, v);
        bytes_.insert(bytes_.end(), b, b + 2);
    }
    void u32(uint32_t v) {
        uint8_t b[4];
        base::store_le32(b, v);
        bytes_.insert(bytes_.end(), b, b + 4);
    }
    void u64(uint64_t v) {
        uint8_t b[8];
        base::store_le64(b, v);
        bytes_.insert(bytes_.end(), b, b + 8);
    }
    void raw(const uint8_t* p, size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
    // Zero-terminated, as LinkInfo keeps its paths.
    void ansi(const std::string& s) {
        raw(reinterpret_cast<const uint8_t*>(s.data()), s.size());
        bytes_.push_back(0);
    }
    void utf16(const std::u16string& s) {
        for (char16_t c : s)
            u16(static_cast<uint16_t>(c));
        u16(0);
    }
    // String data: a character count, then the characters, no terminator.
    void counted(const std::u16string& s) {
        u16(static_cast<uint16_t>(s.size()));
        for (char16_t c : s)
            u16(static_cast<uint16_t>(c));
    }
    std::vector<uint8_t>& bytes() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

void write(Out& out, const ShellLinkHeader& h) {
    out.u32(h.header_size);
    out.raw(h.link_clsid, sizeof h.link_clsid);
    out.u32(h.link_flags);
    out.u32(h.file_attributes);
    out.u64(h.creation_time);
    out.u64(h.access_time);
    out.u64(h.write_time);
    out.u32(h.file_size);
    out.u32(static_cast<uint32_t>(h.icon_index));
    out.u32(h.show_command);
    out.u16(h.hot_key);
    out.u16(h.reserved1);
    out.u32(h.reserved2);
    out.u32(h.reserved3);
}

void write(Out& out, const LinkInfoHeader& h) {
    out.u32(h.link_info_size);
    out.u32(h.link_info_header_size);
    out.u32(h.link_info_flags);
    out.u32(h.volume_id_offset);
    out.u32(h.local_base_path_offset);
    out.u32(h.common_network_relative_link_offset);
    out.u32(h.common_path_suffix_offset);
    out.u32(h.local_base_path_offset_unicode);
    out.u32(h.common_path_suffix_offset_unicode);
}

void write(Out& out, const VolumeId& v) {
    out.u32(v.volume_id_size);
    out.u32(v.drive_type);
    out.u32(v.drive_serial_number);
    out.u32(v.volume_label_offset);
}

// The LinkInfo of a local path: header, VolumeID with an empty label, the
// ANSI base path and empty suffix, then both again in UTF-16.
void write_link_info(Out& out, const ShellLinkContent& content) {
    VolumeId volume;
    volume.volume_id_size = kVolumeIdSize + 1;  // the empty label's terminator

    LinkInfoHeader info;
    info.volume_id_offset = kLinkInfoHeaderSize;
    info.local_base_path_offset = info.volume_id_offset + volume.volume_id_size;
    info.common_path_suffix_offset =
        info.local_base_path_offset + static_cast<uint32_t>(content.target_ansi.size() + 1);
    info.local_base_path_offset_unicode = info.common_path_suffix_offset + 1;
    info.common_path_suffix_offset_unicode = info.local_base_path_offset_unicode +
                                             static_cast<uint32_t>(2 * (content.target.size() + 1));
    info.link_info_size = info.common_path_suffix_offset_unicode + 2;

    write(out, info);
    write(out, volume);
    out.ansi("");  // volume label
    out.ansi(content.target_ansi);
    out.ansi("");  // common path suffix
    out.utf16(content.target);
    out.utf16(u"");
}

}  // namespace

bool is_drive_path(const std::string& ansi) {
    if (ansi.size() < 3)
        return false;
    const char letter = ansi[0];
    const bool alpha = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    return alpha && ansi[1] == ':' && ansi[2] == '\\';
}

std::optional<std::vector<uint8_t>> build_shell_link(const ShellLinkContent& content) {
    constexpr size_t kMaxCount = 0xFFFF;
    for (const std::u16string* s : {&content.target, &content.description, &content.working_folder})
        if (s->size() > kMaxCount)
            return std::nullopt;
    // LinkInfo offsets are 32-bit; a path that long is already refused above.

    const bool local = is_drive_path(content.target_ansi);
    ShellLinkHeader header;
    std::copy(std::begin(kShellLinkClsid), std::end(kShellLinkClsid), header.link_clsid);
    header.link_flags = kIsUnicode | (local ? kHasLinkInfo : kHasRelativePath);
    if (!content.description.empty())
        header.link_flags |= kHasName;
    if (!content.working_folder.empty())
        header.link_flags |= kHasWorkingDir;

    Out out;
    write(out, header);
    if (local)
        write_link_info(out, content);
    // String data in the format's order: name, relative path, working folder.
    if (!content.description.empty())
        out.counted(content.description);
    if (!local)
        out.counted(content.target);
    if (!content.working_folder.empty())
        out.counted(content.working_folder);
    out.u32(0);  // the terminal block: no extra data
    return std::move(out.bytes());
}

}  // namespace pbshell
