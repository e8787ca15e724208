#include "updater/update_files.h"

#include "common/file_walk/file_walk.h"
#include "common/manifest/gbk_text.h"
#include "rt/files.h"
#include "rt/text.h"

namespace updater {

namespace {

using common::TextBuffer;

// Whether `text` starts with `prefix` (exact bytes).
bool starts_with(const char* text, const char* prefix) {
    while (*prefix != '\0' && *text == *prefix) {
        ++text;
        ++prefix;
    }
    return *prefix == '\0';
}

// A folder or file name that names the same thing on every system: a bare
// name without a final dot or space, which Windows would drop, and no device
// name, which Windows would open instead of a file in any folder.
bool plain_part(const char* part, uint32_t length) {
    if (length == 0 || length > 255)
        return false;
    TextBuffer copy;
    copy.append(part, length);
    if (!common::bare_name(copy.c_str()) || common::device_name(copy.c_str()))
        return false;
    const char last = part[length - 1];
    return last != '.' && last != ' ';
}

}  // namespace

bool safe_entry(const char* name, const char* relative_path) {
    const uint32_t name_length = TextBuffer::length_of(name);
    if (!plain_part(name, name_length) || common::equal_folded(name, common::kManifestName))
        return false;
    if (relative_path == nullptr || relative_path[0] != '\\')
        return false;
    // Split at every separator of its own (a trail byte 0x5C is none).
    const char* part = relative_path + 1;
    const char* at = part;
    bool first = true;
    for (;; at += common::gbk_char_length(at)) {
        if (*at != '\0' && !common::is_separator(*at))
            continue;
        const uint32_t length = static_cast<uint32_t>(at - part);
        if (!plain_part(part, length))
            return false;
        if (*at == '\0') {
            // The last part is the name itself, after a backslash.
            return part[-1] == '\\' && length == name_length && common::equal_bytes(part, name);
        }
        if (first) {
            TextBuffer folder;
            folder.append(part, length);
            if (common::equal_folded(folder.c_str(), common::kWorkFolderName))
                return false;
        }
        first = false;
        part = at + 1;
    }
}

int64_t size_value(const char* text) {
    int64_t value = 0;
    for (; text != nullptr && *text >= '0' && *text <= '9'; ++text) {
        if (value > (int64_t{1} << 50))
            break;  // far beyond any archive; keeps the sum from overflowing
        value = value * 10 + (*text - '0');
    }
    return value;
}

namespace {

struct BuildContext {
    common::Manifest* manifest;
    uint32_t root_length;
};

void on_installed_file(void* context, const char* folder, const char* name) {
    auto& build = *static_cast<BuildContext*>(context);
    if (!common::manifest_eligible(folder, name, false))
        return;
    TextBuffer file;
    file << folder << name;
    rt::Text time = rt::file_time(file.c_str());
    TextBuffer relative;
    common::relative_path(relative, folder, build.root_length, name);
    build.manifest->add_file(name, relative.c_str(), time.c_str());
}

}  // namespace

bool build_installed_manifest(const char* folder) {
    common::Manifest manifest;
    BuildContext context{&manifest, TextBuffer::length_of(folder)};
    TextBuffer root;
    root << folder << '\\';
    common::walk_files(root.c_str(), "*.*", true, on_installed_file, &context);
    manifest.set_version("未知");
    TextBuffer text;
    manifest.render(text);
    TextBuffer path;
    common::join_path(path, folder, common::kManifestName);
    return rt::write_file(path.c_str(), text.c_str());
}

void remove_moved_aside(const char* folder) {
    TextBuffer manifest;
    common::join_path(manifest, folder, common::kManifestName);
    rt::LineReader lines(manifest.c_str());
    rt::Text line;
    constexpr char kPathKey[] = "文件路径=";
    while (lines.next(line)) {
        if (!starts_with(line.c_str(), kPathKey))
            continue;
        // Only names inside the installation, as the replacement made them.
        const char* relative = line.c_str() + sizeof kPathKey - 1;
        const char* name = relative;
        for (const char* at = relative; *at != '\0'; at += common::gbk_char_length(at)) {
            if (*at == '\\')
                name = at + 1;
        }
        if (!safe_entry(name, relative))
            continue;
        for (int32_t n = 0; n < 10; ++n) {
            TextBuffer aside;
            aside << folder << relative << kAsideSuffix;
            if (n > 0)
                aside << static_cast<int64_t>(n);
            if (!rt::file_exists(aside.c_str()))
                break;
            rt::delete_file(aside.c_str());
        }
    }
}

namespace {

// Moves `target` aside to a free name beside it; false when it cannot be.
bool move_aside(const char* target, TextBuffer& aside) {
    for (int32_t n = 0; n < 10; ++n) {
        aside.clear();
        aside << target << kAsideSuffix;
        if (n > 0)
            aside << static_cast<int64_t>(n);
        // One left by an earlier update that was in use then.
        if (rt::file_exists(aside.c_str()) && !rt::delete_file(aside.c_str()))
            continue;
        if (rt::move_file(target, aside.c_str()))
            return true;
        break;
    }
    aside.clear();
    return false;
}

// Makes the folders of `file.target` that are missing, inside the updater
// folder; remembers the outermost one made.
bool make_folders(Replacement& file) {
    const char* target = file.target;
    uint32_t last = 0;
    for (uint32_t i = file.root_length; target[i] != '\0';
         i += common::gbk_char_length(target + i)) {
        if (target[i] == '\\')
            last = i;
    }
    if (last <= file.root_length)
        return true;  // in the updater folder itself
    TextBuffer folder;
    folder.append(target, last);
    if (rt::file_exists(folder.c_str()))
        return true;
    for (uint32_t i = file.root_length + 1; i <= last; i += common::gbk_char_length(target + i)) {
        if (target[i] != '\\' && i != last)
            continue;
        TextBuffer part;
        part.append(target, i);
        if (!rt::file_exists(part.c_str())) {
            file.created << part.c_str();
            break;
        }
    }
    return rt::create_folder(folder.c_str());
}

void put_back(Replacement& file) {
    rt::delete_file(file.target);
    if (!file.aside.empty())
        rt::move_file(file.aside.c_str(), file.target);
    file.aside.clear();
    if (!file.created.empty())
        rt::delete_folder(file.created.c_str());
    file.created.clear();
}

}  // namespace

int32_t replace_files(Replacement* files, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        Replacement& file = files[i];
        file.aside.clear();
        file.created.clear();
        bool placed = false;
        if (rt::file_size(file.source) >= 0) {
            if (!rt::file_exists(file.target)) {
                placed = make_folders(file) && rt::copy_file(file.source, file.target);
            } else if (rt::file_size(file.target) >= 0 && move_aside(file.target, file.aside)) {
                placed = rt::copy_file(file.source, file.target);
                if (!placed) {
                    rt::move_file(file.aside.c_str(), file.target);
                    file.aside.clear();
                }
            }
        }
        if (!placed) {
            // This one's target is as it was; only folders made for it go.
            if (!file.created.empty())
                rt::delete_folder(file.created.c_str());
            file.created.clear();
            undo_replacement(files, i);
            return i;
        }
    }
    return -1;
}

void undo_replacement(Replacement* files, int32_t count) {
    for (int32_t i = count - 1; i >= 0; --i)
        put_back(files[i]);
}

void finish_replacement(Replacement* files, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (!files[i].aside.empty())
            rt::delete_file(files[i].aside.c_str());
    }
}

}  // namespace updater
