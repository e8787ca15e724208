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

namespace {

// The names the runtime gives the temporary file that a copy or a write
// fills beside its target before renaming it over the target; a process
// killed in between leaves it behind.
constexpr char kRuntimeTemporaries[] = ".wjrt-tmp-*";

// Aside name number `n` of `target`: the suffix, then the digit n > 0.
void aside_name(TextBuffer& aside, const char* target, int32_t n) {
    aside.clear();
    aside << target << kAsideSuffix;
    if (n > 0)
        aside << static_cast<int64_t>(n);
}

void on_temporary(void*, const char* folder, const char* name) {
    TextBuffer file;
    file << folder << name;
    rt::delete_file(file.c_str());
}

// Takes back or removes what a replacement left, file by file.
struct Repair {
    const char* folder;
    TextBuffer cleared;  // the folders already rid of temporaries, one per line

    // Whether the first `length` bytes of `path` were cleared; noted if not.
    bool seen(const char* path, uint32_t length) {
        const char* at = cleared.c_str();
        while (*at != '\0') {
            const char* end = at;
            while (*end != '\n')
                ++end;
            if (static_cast<uint32_t>(end - at) == length) {
                uint32_t i = 0;
                while (i < length && at[i] == path[i])
                    ++i;
                if (i == length)
                    return true;
            }
            at = end + 1;
        }
        cleared.append(path, length);
        cleared << '\n';
        return false;
    }

    void clear_temporaries(const char* path, uint32_t length) {
        if (seen(path, length))
            return;
        TextBuffer in_folder;
        in_folder.append(path, length);
        common::walk_files(in_folder.c_str(), kRuntimeTemporaries, false, on_temporary, nullptr);
    }

    void entry(const char* relative) {
        TextBuffer target;
        target << folder << relative;
        // The newest aside is the last of the row (older ones were in use).
        int32_t newest = -1;
        for (int32_t n = 0; n < 10; ++n) {
            TextBuffer aside;
            aside_name(aside, target.c_str(), n);
            if (rt::file_exists(aside.c_str()))
                newest = n;
        }
        for (int32_t n = 0; n <= newest; ++n) {
            TextBuffer aside;
            aside_name(aside, target.c_str(), n);
            // A missing target was moved aside by a replacement that ended
            // before the new file came: its old content goes back.
            if (n == newest && !rt::file_exists(target.c_str()))
                rt::move_file(aside.c_str(), target.c_str());
            else
                rt::delete_file(aside.c_str());
        }
        uint32_t name_at = 0;
        for (uint32_t i = 0; target.c_str()[i] != '\0';
             i += common::gbk_char_length(target.c_str() + i)) {
            if (target.c_str()[i] == '\\')
                name_at = i + 1;
        }
        clear_temporaries(target.c_str(), name_at);
    }

    // Every safe "文件路径" of the manifest at `path`.
    void entries_of(const char* path) {
        rt::LineReader lines(path);
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
            if (safe_entry(name, relative))
                entry(relative);
        }
    }
};

}  // namespace

void remove_moved_aside(const char* folder) {
    Repair repair{folder, {}};
    TextBuffer root;
    root << folder << '\\';
    // The installed manifest is written through a temporary too.
    repair.clear_temporaries(root.c_str(), root.length());
    TextBuffer manifest;
    common::join_path(manifest, folder, common::kManifestName);
    repair.entries_of(manifest.c_str());
    // A replacement cut short leaves the downloaded manifest in the work
    // folder, which also lists the files new in its release.
    TextBuffer downloaded;
    downloaded << root.c_str() << common::kWorkFolderName << '\\' << common::kManifestName;
    repair.entries_of(downloaded.c_str());
}

namespace {

// Keeps a copy of `target`'s content under a free aside name beside it,
// for taking the replacement back; false when it cannot be made.
bool keep_aside(const char* target, TextBuffer& aside) {
    for (int32_t n = 0; n < 10; ++n) {
        aside_name(aside, target, n);
        // One left by an earlier update that was in use then.
        if (rt::file_exists(aside.c_str()) && !rt::delete_file(aside.c_str()))
            continue;
        if (rt::copy_file(target, aside.c_str()))
            return true;
        break;
    }
    aside.clear();
    return false;
}

// Puts the new content over an existing target. The copy goes through a
// temporary file renamed over the target, so the target holds its old or
// its whole new content at every moment. Windows refuses that rename for a
// running program's file, which can only be renamed itself: then the
// target takes the aside's place and the new file the free name; an end in
// between is mended at the next start (remove_moved_aside).
bool replace_existing(Replacement& file) {
    if (!keep_aside(file.target, file.aside))
        return false;
    if (rt::copy_file(file.source, file.target))
        return true;
    if (rt::delete_file(file.aside.c_str()) && rt::move_file(file.target, file.aside.c_str())) {
        if (rt::copy_file(file.source, file.target))
            return true;
        rt::move_file(file.aside.c_str(), file.target);
    }
    file.aside.clear();
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
    // Renames only, which need no room: a full disk does not keep the old
    // content from coming back.
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
            } else if (rt::file_size(file.target) >= 0) {
                placed = replace_existing(file);
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
