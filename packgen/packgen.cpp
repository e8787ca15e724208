// The package generator: from a release folder it works out which files
// changed since the release published last, and writes the manifest
// "up.dat", the release notes, one ZIP archive per changed file and the
// manifest archive into a version folder that the operator copies to the
// update server.
//
// Three moves, each a control of the main window: choosing the release
// folder (which analyses it at once and lists the changed files), typing the
// version and notes, and Generate.
//
// Where this program is stricter than "write and hope":
// - The baseline (the release folder's manifest as the analysis found it) is
//   held in memory from the analysis to every generation that follows; the
//   copy beside the program is a record of it. A release folder that is the
//   program's own folder therefore works like any other.
// - The new manifest replaces the release folder's "up.dat" only after every
//   archive and the manifest archive were written; any failure stops the
//   generation with a message and leaves the previous "up.dat" as it was.
// - A version text that is not a bare folder name is refused: it names a
//   folder that is deleted and rewritten.
// - A cancelled or unusable folder choice empties the list, so Generate has
//   nothing to work on.
// - A generation that meets two changed files of one name stops before the
//   second archive overwrites the first.
// - The choice buttons are disabled while a walk runs, since the walker
//   serves window events meanwhile.
#include "common/file_walk/file_walk.h"
#include "common/manifest/gbk_text.h"
#include "common/manifest/manifest.h"
#include "common/manifest/text_buffer.h"
#include "rt/archive.h"
#include "rt/args.h"
#include "rt/files.h"
#include "rt/markers.h"
#include "rt/process.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text.h"

namespace {

using common::TextBuffer;

// ---- the main window's units ----

uint32_t main_window() {
    return RT_ID(52010001);
}
uint32_t help_window() {
    return RT_ID(52010002);
}
uint32_t changed_list() {
    return RT_ID(16010002);
}
uint32_t notes_edit() {
    return RT_ID(16010004);
}
uint32_t folder_edit() {
    return RT_ID(16010008);
}
uint32_t choose_button() {
    return RT_ID(16010009);
}
uint32_t previous_version_edit() {
    return RT_ID(1601000B);
}
uint32_t version_edit() {
    return RT_ID(1601000D);
}
uint32_t generate_button() {
    return RT_ID(1601000E);
}
uint32_t status_label() {
    return RT_ID(16010010);
}
RtArgument changed_list_argument() {
    return rt::unit(RT_TYPE(krnln, 000F), main_window(), changed_list());
}

// ---- texts the program shows ----

constexpr char kStartStatus[] = "  请选择需要生成更新文件的程序文件夹！";
constexpr char kFirstRelease[] = "首次发行";
constexpr char kFirstReleaseNotes[] = "首次发行！";
constexpr char kBrowseTitle[] = "请选择发布程序所在文件夹！";
constexpr char kUploadMarker[] = "\\上传到服务器的更新文件";

// ---- small helpers over the runtime's slots ----

int64_t address_of(const char* text) {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(text));
}

rt::Text text_of(uint32_t unit) {
    return rt::Text::adopt(
        static_cast<intptr_t>(rt_get_property(main_window(), unit, RT_PROPERTY_TEXT, -1)));
}

void set_text(uint32_t unit, const char* text) {
    rt_set_property(main_window(), unit, RT_PROPERTY_TEXT, -1, address_of(text));
}

void set_status(const char* text) {
    set_text(status_label(), text);
}

void set_enabled(uint32_t unit, bool enabled) {
    rt_set_property(main_window(), unit, RT_PROPERTY_ENABLED, -1, enabled ? 1 : 0);
}

int32_t message_box(const char* text, int32_t style) {
    auto block = rt::arguments(rt::text(text), rt::integer(style), rt::text(nullptr));
    return static_cast<int32_t>(rt_kernel_command(RT_KERNEL_MESSAGE_BOX, block.get()));
}

int32_t item_count() {
    return static_cast<int32_t>(
        rt_get_property(main_window(), changed_list(), RT_PROPERTY_ITEM_COUNT, -1));
}

void add_item(const char* name) {
    auto block = rt::arguments(changed_list_argument(), rt::text(name), rt::integer(-1));
    rt_kernel_command(RT_KERNEL_INSERT_ITEM, block.get());
}

void clear_items() {
    auto block = rt::arguments(changed_list_argument());
    rt_kernel_command(RT_KERNEL_CLEAR_ITEMS, block.get());
}

intptr_t dll_call(uint32_t number, const intptr_t* arguments, int32_t count) {
    return rt_dll_call(static_cast<int32_t>(number), count, arguments);
}

// ---- names counted by their exact bytes ----

// The names of one walk in their order, and how often each occurs.
class NameCounts {
  public:
    NameCounts() = default;
    NameCounts(const NameCounts&) = delete;
    NameCounts& operator=(const NameCounts&) = delete;
    ~NameCounts() { reset(); }

    // Adds a name; gives how often it occurs now.
    uint32_t add(const char* name) {
        if ((count_ + 1) * 2 > capacity_)
            grow();
        uint32_t slot = hash(name) & (capacity_ - 1);
        for (; slots_[slot] != 0; slot = (slot + 1) & (capacity_ - 1)) {
            Name& known = names_[slots_[slot] - 1];
            if (common::equal_bytes(known.text, name))
                return ++known.count;
        }
        names_[count_] = Name{rt::Text::copy(name).release(), 1};
        slots_[slot] = ++count_;
        return 1;
    }

    // The first name, in the order of adding, that occurs more than once;
    // null when none does.
    const char* first_duplicate() const {
        for (uint32_t i = 0; i < count_; ++i) {
            if (names_[i].count > 1)
                return names_[i].text;
        }
        return nullptr;
    }

    void reset() {
        for (uint32_t i = 0; i < count_; ++i)
            rt_heap_free(names_[i].text);
        if (names_ != nullptr)
            rt_heap_free(names_);
        if (slots_ != nullptr)
            rt_heap_free(slots_);
        names_ = nullptr;
        slots_ = nullptr;
        capacity_ = count_ = 0;
    }

  private:
    struct Name {
        char* text;
        uint32_t count;
    };

    static uint32_t hash(const char* text) {
        uint32_t hash = 2166136261u;
        for (; *text != '\0'; ++text) {
            hash ^= static_cast<uint8_t>(*text);
            hash *= 16777619u;
        }
        return hash;
    }

    // Room for twice the names: the slots stay at most half full.
    void grow() {
        const uint32_t capacity = capacity_ == 0 ? 256 : capacity_ * 2;
        auto* names = static_cast<Name*>(rt_heap_new(capacity / 2 * sizeof(Name)));
        auto* slots = static_cast<uint32_t*>(rt_heap_new(capacity * sizeof(uint32_t)));
        for (uint32_t i = 0; i < capacity; ++i)
            slots[i] = 0;
        for (uint32_t i = 0; i < count_; ++i) {
            names[i] = names_[i];
            uint32_t slot = hash(names[i].text) & (capacity - 1);
            while (slots[slot] != 0)
                slot = (slot + 1) & (capacity - 1);
            slots[slot] = i + 1;
        }
        if (names_ != nullptr)
            rt_heap_free(names_);
        if (slots_ != nullptr)
            rt_heap_free(slots_);
        names_ = names;
        slots_ = slots;
        capacity_ = capacity;
    }

    Name* names_ = nullptr;
    uint32_t* slots_ = nullptr;  // name index + 1, 0 when free
    uint32_t capacity_ = 0;
    uint32_t count_ = 0;
};

// ---- the program's state ----

enum class ScanMode { none, analyse, generate };

struct State {
    int32_t baseline_flag;      // 1: the analysis found a manifest and took it as baseline
    ScanMode scan_mode;         // what the file handler does
    common::Manifest baseline;  // the manifest that the analysis found
    common::Manifest manifest;  // the manifest being generated
    NameCounts names;           // changed files met by the walk
    TextBuffer release_folder;  // R of the walk
    TextBuffer version_folder;  // V of the generation
    TextBuffer failure;         // why the generation cannot go on; empty while it can
    bool duplicate;             // the failure is a name met twice
};

State* g_state;

// ---- paths ----

// Whether a chosen folder can be analysed: more than a drive, and not the
// upload folder or anything inside it.
bool analysable(const char* folder) {
    if (TextBuffer::length_of(folder) <= 2)
        return false;
    const char* at = folder;
    for (; *at != '\0'; at += common::gbk_char_length(at)) {
        const char* a = at;
        const char* m = kUploadMarker;
        while (*m != '\0' && (*a == *m || (*m == '\\' && *a == '/'))) {
            ++a;
            ++m;
        }
        if (*m == '\0')
            return false;
    }
    return true;
}

void join(TextBuffer& out, const char* folder, const char* name) {
    out << folder;
    if (!common::ends_with_separator(folder))
        out << '\\';
    out << name;
}

// The baseline's record beside the program.
void baseline_copy_path(TextBuffer& out) {
    rt::Text folder = rt::program_folder();
    join(out, folder.c_str(), common::kManifestName);
}

// A version text names a folder: it must be a bare name.
bool bare_folder_name(const char* name) {
    if (name[0] == '\0' || common::equal_bytes(name, ".") || common::equal_bytes(name, ".."))
        return false;
    for (const char* at = name; *at != '\0'; at += common::gbk_char_length(at)) {
        if (common::gbk_char_length(at) == 2)
            continue;
        const uint8_t c = static_cast<uint8_t>(*at);
        if (c < 0x20)
            return false;
        for (const char* bad = "\\/:*?\"<>|"; *bad != '\0'; ++bad) {
            if (*at == *bad)
                return false;
        }
    }
    return true;
}

// ---- the folder browser ----

// BROWSEINFOA as shell32 takes it, pointers in the image's size.
struct BrowseInfo {
    intptr_t owner;
    intptr_t root;          // item id list of the dialog's root
    intptr_t display_name;  // 260-byte buffer for the chosen item's name
    intptr_t title;
    uint32_t flags;
    intptr_t callback;
    intptr_t parameter;
    int32_t image;
};

constexpr uint32_t kBrowseFlags = 0x77;  // file system folders, edit box, status, new style
constexpr int32_t kPathBuffer = 260;

// The chosen folder, empty when nothing usable was chosen. A drive root is
// its two characters ("C:"); a network item without a path is "\\" + name.
void browse_for_folder(intptr_t owner, TextBuffer& result) {
    intptr_t root = 0;
    const intptr_t location[] = {owner, 0, 0, 0, reinterpret_cast<intptr_t>(&root)};
    dll_call(RT_DLL(get_folder_location), location, 5);

    char display_name[kPathBuffer + 1] = {};
    BrowseInfo info{owner,
                    root,
                    reinterpret_cast<intptr_t>(display_name),
                    reinterpret_cast<intptr_t>(kBrowseTitle),
                    kBrowseFlags,
                    0,
                    0,
                    0};
    const intptr_t browse[] = {reinterpret_cast<intptr_t>(&info)};
    const intptr_t chosen = dll_call(RT_DLL(browse_for_folder), browse, 1);

    const char* name = display_name;
    while (*name == ' ')
        ++name;
    uint32_t name_length = TextBuffer::length_of(name);
    while (name_length > 0 && name[name_length - 1] == ' ')
        --name_length;

    TextBuffer trimmed;
    trimmed.append(name, name_length);
    if (common::contains_char(trimmed.c_str(), '?')) {
        // A name with characters outside the code page: no usable path.
    } else if (chosen != 0) {
        char path[kPathBuffer + 1] = {};
        const intptr_t to_path[] = {chosen, reinterpret_cast<intptr_t>(path)};
        if (dll_call(RT_DLL(path_from_id_list), to_path, 2) != 0) {
            uint32_t length = TextBuffer::length_of(path);
            if (length == 3 && path[1] == ':') {
                length = 2;  // a drive root: its letter and colon
            } else {
                // The folder without a final separator, as every path is built on it.
                while (length > 3 && common::ends_with_separator(path))
                    path[--length] = '\0';
            }
            result.append(path, length);
        }
    } else if (!trimmed.empty()) {
        result << "\\\\" << trimmed.c_str();
    }
    const intptr_t free_chosen[] = {chosen};
    dll_call(RT_DLL(free_task_memory), free_chosen, 1);
    const intptr_t free_root[] = {root};
    dll_call(RT_DLL(free_task_memory), free_root, 1);
}

// ---- the file handler of both walks ----

void fail(const char* why, const char* what) {
    if (!g_state->failure.empty())
        return;
    g_state->failure << why << what;
}

void pack(const char* file, const char* name) {
    State& s = *g_state;
    if (s.names.add(name) > 1) {
        s.duplicate = true;
        fail("发现重名文件：", name);
        return;
    }
    TextBuffer archive;
    archive << s.version_folder.c_str() << '\\' << name << common::kArchiveSuffix;
    const bool packed = rt::zip_file(file, archive.c_str());
    const int64_t size = packed ? rt::file_size(archive.c_str()) : -1;
    if (size < 0) {
        fail("无法写入文件：", archive.c_str());
        return;
    }
    s.manifest.set_archive_size(name, size);
}

void on_file(void*, const char* folder, const char* name) {
    State& s = *g_state;
    if (!s.failure.empty() || !common::manifest_eligible(folder, name, true))
        return;
    if (s.scan_mode == ScanMode::analyse && s.baseline_flag == 0) {
        // A first release: every file is changed, no time stamp is needed.
        add_item(name);
        s.names.add(name);
        return;
    }
    TextBuffer file;
    file << folder << name;
    rt::Text time = rt::file_time(file.c_str());
    const char* recorded =
        s.baseline_flag == 1 ? s.baseline.value(name, common::kKeyFileDate) : nullptr;
    const bool changed =
        s.baseline_flag == 0 || recorded == nullptr || recorded[0] == '\0' || !(time == recorded);
    if (s.scan_mode == ScanMode::analyse) {
        if (changed) {
            add_item(name);
            s.names.add(name);
        }
        return;
    }
    TextBuffer relative;
    common::relative_path(relative, folder, s.release_folder.length(), name);
    s.manifest.add_file(name, relative.c_str(), time.c_str());
    if (changed)
        pack(file.c_str(), name);
}

void walk_release_folder() {
    set_enabled(choose_button(), false);
    set_enabled(generate_button(), false);
    common::walk_files(g_state->release_folder.c_str(), "*.*", true, on_file, nullptr);
    set_enabled(choose_button(), true);
    set_enabled(generate_button(), true);
}

// ---- Analyse ----

void analyse() {
    State& s = *g_state;
    rt::Text folder = text_of(folder_edit());
    if (!analysable(folder.c_str()))
        return;
    s.release_folder.clear();
    s.release_folder << folder.c_str();

    set_status("  正在分析已发布版本信息......");
    TextBuffer manifest;
    join(manifest, folder.c_str(), common::kManifestName);
    if (rt::file_exists(manifest.c_str())) {
        rt::Array<uint8_t> bytes = rt::read_file(manifest.c_str());
        s.baseline.parse(bytes.elements(), bytes.count());
        const char* version = s.baseline.value(common::kVersionSection, common::kVersionKey);
        set_text(previous_version_edit(), version != nullptr ? version : "");
        TextBuffer notes_path;
        join(notes_path, folder.c_str(), common::kNotesFileName);
        rt::Text notes = rt::read_text_file(notes_path.c_str());
        set_text(notes_edit(), notes.c_str());
        if (bytes.block() != nullptr) {
            TextBuffer copy;
            baseline_copy_path(copy);
            rt::write_file(copy.c_str(), bytes);
        }
        s.baseline_flag = 1;
    }

    set_status("  正在分析需更新文件......");
    s.scan_mode = ScanMode::analyse;
    clear_items();
    s.names.reset();
    walk_release_folder();
    TextBuffer found;
    found << "  找到 " << static_cast<int64_t>(item_count()) << " 个文件需要更新！";
    set_status(found.c_str());

    if (item_count() > 1) {
        if (const char* duplicate = s.names.first_duplicate()) {
            TextBuffer message;
            message << "发现重名文件：" << duplicate;
            message_box(message.c_str(), RT_MB_ICON_INFORMATION | RT_MB_OK);
            clear_items();
        }
    }
    s.names.reset();
}

// ---- Generate ----

void report_failure() {
    State& s = *g_state;
    set_status("  更新文件生成失败！");
    if (s.duplicate) {
        message_box(s.failure.c_str(), RT_MB_ICON_INFORMATION | RT_MB_OK);
        return;
    }
    TextBuffer message;
    message << "更新文件生成失败，" << s.failure.c_str() << "\r\n上次生成的 up.dat 保持不变。";
    message_box(message.c_str(), RT_MB_ICON_ERROR | RT_MB_OK);
}

// The manifest is complete: its archive first (made from a file "up.dat" in
// the version folder, since an archive entry takes its file's name), then it
// replaces the release folder's manifest.
void finish_manifest(const char* release_manifest) {
    State& s = *g_state;
    TextBuffer text;
    s.manifest.render(text);
    TextBuffer staged;
    staged << s.version_folder.c_str() << '\\' << common::kManifestName;
    TextBuffer archive;
    archive << s.version_folder.c_str() << '\\' << common::kManifestArchiveName;
    if (!rt::write_file(staged.c_str(), text.c_str()) ||
        !rt::zip_file(staged.c_str(), archive.c_str())) {
        rt::delete_file(staged.c_str());
        fail("无法写入文件：", archive.c_str());
        return;
    }
    rt::delete_file(staged.c_str());
    if (!rt::write_file(release_manifest, text.c_str()))
        fail("无法写入文件：", release_manifest);
}

void generate() {
    State& s = *g_state;
    if (item_count() == 0) {
        message_box("抱歉！没有检测到需要更新的文件！", RT_MB_ICON_INFORMATION | RT_MB_OK);
        return;
    }
    s.scan_mode = ScanMode::generate;
    rt::Text version = text_of(version_edit());
    if (version.empty()) {
        message_box("请输入本次版本号！", RT_MB_ICON_INFORMATION | RT_MB_OK);
        return;
    }
    if (!bare_folder_name(version.c_str())) {
        message_box("本次版本号不能用作文件夹名称，请重新输入！",
                    RT_MB_ICON_INFORMATION | RT_MB_OK);
        return;
    }
    rt::Text folder = text_of(folder_edit());
    if (!analysable(folder.c_str())) {
        message_box("抱歉！没有检测到需要更新的文件！", RT_MB_ICON_INFORMATION | RT_MB_OK);
        return;
    }
    s.release_folder.clear();
    s.release_folder << folder.c_str();
    s.failure.clear();
    s.duplicate = false;

    TextBuffer upload;
    join(upload, folder.c_str(), common::kUploadFolderName);
    s.version_folder.clear();
    s.version_folder << upload.c_str() << '\\' << version.c_str();
    if (!rt::file_exists(upload.c_str()) && !rt::create_folder(upload.c_str())) {
        fail("无法创建文件夹：", upload.c_str());
        report_failure();
        return;
    }
    if (rt::file_exists(s.version_folder.c_str())) {
        const int32_t answer =
            message_box("发现此版本号已经生成过升级文件，\r\n请问是否需要替换上次生成的文件。",
                        RT_MB_ICON_NONE | RT_MB_OK_CANCEL);
        if (answer != RT_MB_ANSWER_OK)
            return;
        if (!rt::delete_folder(s.version_folder.c_str())) {
            fail("无法删除文件夹：", s.version_folder.c_str());
            report_failure();
            return;
        }
    }

    set_status("  正在创建更新文件夹......");
    if (!rt::create_folder(s.version_folder.c_str())) {
        fail("无法创建文件夹：", s.version_folder.c_str());
        report_failure();
        return;
    }
    rt::Text notes = text_of(notes_edit());
    if (!notes.empty()) {
        set_status("  正在保存更新说明......");
        TextBuffer notes_path;
        join(notes_path, folder.c_str(), common::kNotesFileName);
        if (!rt::write_file(notes_path.c_str(), notes.c_str())) {
            fail("无法写入文件：", notes_path.c_str());
            report_failure();
            return;
        }
    }

    set_status("  正在生成更新文件......");
    s.manifest.clear();
    s.names.reset();
    walk_release_folder();
    s.names.reset();
    if (s.failure.empty()) {
        s.manifest.set_version(version.c_str());
        TextBuffer release_manifest;
        join(release_manifest, folder.c_str(), common::kManifestName);
        finish_manifest(release_manifest.c_str());
    }
    s.manifest.clear();
    if (!s.failure.empty()) {
        report_failure();
        return;
    }
    set_status("  更新文件生成完毕！");
    message_box("更新文件生成完毕！", RT_MB_ICON_INFORMATION | RT_MB_OK);
}

}  // namespace

extern "C" {

RT_CALL void app_initialise_globals() {
    g_state = new State();
}

RT_CALL void app_release_globals() {
    delete g_state;
    g_state = nullptr;
}

// Choose folder: the boxes start over, then the chosen folder goes into the
// folder box, whose change runs the analysis.
RT_CALL void choose_folder_clicked() {
    State& s = *g_state;
    set_text(previous_version_edit(), kFirstRelease);
    set_text(notes_edit(), kFirstReleaseNotes);
    set_text(version_edit(), "");
    s.baseline_flag = 0;
    s.baseline.clear();

    const intptr_t owner =
        static_cast<intptr_t>(rt_get_property(main_window(), 0, RT_PROPERTY_HANDLE, -1));
    TextBuffer chosen;
    browse_for_folder(owner, chosen);
    if (!analysable(chosen.c_str())) {
        clear_items();
        set_status(kStartStatus);
    }
    rt::Text before = text_of(folder_edit());
    set_text(folder_edit(), chosen.c_str());
    // The same folder again changes nothing in the box: analyse it all the same.
    if (before == chosen.c_str())
        analyse();
}

RT_CALL void folder_changed() {
    analyse();
}

RT_CALL void generate_clicked() {
    generate();
}

RT_CALL void help_clicked() {
    auto block = rt::arguments(rt::integer(static_cast<int32_t>(help_window())));
    rt_kernel_command(RT_KERNEL_LOAD_WINDOW_MODAL, block.get());
}

}  // extern "C"
