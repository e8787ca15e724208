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
//   second archive overwrites the first. Names are compared with A-Z folded,
//   as the file systems of the server and the players ignore letter case,
//   and the manifest's own name counts as taken ("Up.dat.zip" would be the
//   manifest archive "up.dat.zip" there).
// - The choice buttons are disabled while a walk runs, since the walker
//   serves window events meanwhile.
// - Closing the main window during a walk ends the walk at the walker's
//   next serving of events; nothing more is shown or written (a generation
//   leaves the previous "up.dat"), and the program ends.
#include "common/file_walk/file_walk.h"
#include "common/manifest/gbk_text.h"
#include "common/manifest/manifest.h"
#include "common/manifest/name_counts.h"
#include "common/manifest/text_buffer.h"
#include "rt/archive.h"
#include "rt/files.h"
#include "rt/folder_dialog.h"
#include "rt/message_box.h"
#include "rt/process.h"
#include "rt/program.h"
#include "rt/text.h"
#include "units.h"

namespace {

using common::join_path;
using common::TextBuffer;
using namespace ui;

// ---- texts the program shows ----

constexpr char kStartStatus[] = "  请选择需要生成更新文件的程序文件夹！";
constexpr char kFirstRelease[] = "首次发行";
constexpr char kFirstReleaseNotes[] = "首次发行！";
constexpr char kBrowseTitle[] = "请选择发布程序所在文件夹！";
constexpr char kUploadMarker[] = "\\上传到服务器的更新文件";

constexpr int32_t kInform = RT_MB_ICON_INFORMATION | RT_MB_OK;

// ---- the program's state ----

enum class ScanMode { none, analyse, generate };

struct State {
    int32_t baseline_flag;      // 1: the analysis found a manifest and took it as baseline
    ScanMode scan_mode;         // what the file handler does
    common::Manifest baseline;  // the manifest that the analysis found
    common::Manifest manifest;  // the manifest being generated
    common::NameCounts names;   // changed files met by the walk
    TextBuffer release_folder;  // R of the walk
    TextBuffer version_folder;  // V of the generation
    TextBuffer failure;         // why the generation cannot go on; empty while it can
    bool duplicate;             // the failure is a name met twice
    bool closed;                // the main window was closed
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

// The baseline's record beside the program.
void baseline_copy_path(TextBuffer& out) {
    rt::Text folder = rt::program_folder();
    join_path(out, folder.c_str(), common::kManifestName);
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
        changed_list().add(name);
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
            changed_list().add(name);
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

bool walk_ended(void*) {
    return g_state->closed;
}

// The names of a new walk: none met yet, the manifest's own taken.
void start_names() {
    g_state->names.reset();
    g_state->names.add(common::kManifestName);
}

void walk_release_folder() {
    choose_button().set_enabled(false);
    generate_button().set_enabled(false);
    common::walk_files(g_state->release_folder.c_str(), "*.*", true, on_file, nullptr, walk_ended);
    choose_button().set_enabled(true);
    generate_button().set_enabled(true);
}

// ---- Analyse ----

void analyse() {
    State& s = *g_state;
    rt::Text folder = folder_edit().text();
    if (!analysable(folder.c_str()))
        return;
    s.release_folder.clear();
    s.release_folder << folder.c_str();

    status_label().set_text("  正在分析已发布版本信息......");
    TextBuffer manifest;
    join_path(manifest, folder.c_str(), common::kManifestName);
    if (rt::file_exists(manifest.c_str())) {
        rt::Array<uint8_t> bytes = rt::read_file(manifest.c_str());
        s.baseline.parse(bytes.elements(), bytes.count());
        const char* version = s.baseline.value(common::kVersionSection, common::kVersionKey);
        previous_version_edit().set_text(version != nullptr ? version : "");
        TextBuffer notes_path;
        join_path(notes_path, folder.c_str(), common::kNotesFileName);
        rt::Text notes = rt::read_text_file(notes_path.c_str());
        notes_edit().set_text(notes.c_str());
        if (bytes.block() != nullptr) {
            TextBuffer copy;
            baseline_copy_path(copy);
            rt::write_file(copy.c_str(), bytes);
        }
        s.baseline_flag = 1;
    }

    status_label().set_text("  正在分析需更新文件......");
    s.scan_mode = ScanMode::analyse;
    changed_list().clear();
    start_names();
    walk_release_folder();
    if (s.closed) {
        s.names.reset();
        return;
    }
    TextBuffer found;
    found << "  找到 " << static_cast<int64_t>(changed_list().count()) << " 个文件需要更新！";
    status_label().set_text(found.c_str());

    // One changed file alone can meet the manifest's name.
    if (const char* duplicate = s.names.first_duplicate()) {
        TextBuffer message;
        message << "发现重名文件：" << duplicate;
        rt::message_box(message.c_str(), kInform);
        changed_list().clear();
    }
    s.names.reset();
}

// ---- Generate ----

void report_failure() {
    State& s = *g_state;
    status_label().set_text("  更新文件生成失败！");
    if (s.duplicate) {
        rt::message_box(s.failure.c_str(), kInform);
        return;
    }
    TextBuffer message;
    message << "更新文件生成失败，" << s.failure.c_str() << "\r\n上次生成的 up.dat 保持不变。";
    rt::message_box(message.c_str(), RT_MB_ICON_ERROR | RT_MB_OK);
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
    if (changed_list().count() == 0) {
        rt::message_box("抱歉！没有检测到需要更新的文件！", kInform);
        return;
    }
    s.scan_mode = ScanMode::generate;
    rt::Text version = version_edit().text();
    if (version.empty()) {
        rt::message_box("请输入本次版本号！", kInform);
        return;
    }
    if (!common::bare_name(version.c_str())) {
        rt::message_box("本次版本号不能用作文件夹名称，请重新输入！", kInform);
        return;
    }
    rt::Text folder = folder_edit().text();
    if (!analysable(folder.c_str())) {
        rt::message_box("抱歉！没有检测到需要更新的文件！", kInform);
        return;
    }
    s.release_folder.clear();
    s.release_folder << folder.c_str();
    s.failure.clear();
    s.duplicate = false;

    TextBuffer upload;
    join_path(upload, folder.c_str(), common::kUploadFolderName);
    s.version_folder.clear();
    s.version_folder << upload.c_str() << '\\' << version.c_str();
    if (!rt::file_exists(upload.c_str()) && !rt::create_folder(upload.c_str())) {
        fail("无法创建文件夹：", upload.c_str());
        report_failure();
        return;
    }
    if (rt::file_exists(s.version_folder.c_str())) {
        const int32_t answer =
            rt::message_box("发现此版本号已经生成过升级文件，\r\n请问是否需要替换上次生成的文件。",
                            RT_MB_ICON_NONE | RT_MB_OK_CANCEL);
        if (answer != RT_MB_ANSWER_OK)
            return;
        if (!rt::delete_folder(s.version_folder.c_str())) {
            fail("无法删除文件夹：", s.version_folder.c_str());
            report_failure();
            return;
        }
    }

    status_label().set_text("  正在创建更新文件夹......");
    if (!rt::create_folder(s.version_folder.c_str())) {
        fail("无法创建文件夹：", s.version_folder.c_str());
        report_failure();
        return;
    }
    rt::Text notes = notes_edit().text();
    if (!notes.empty()) {
        status_label().set_text("  正在保存更新说明......");
        TextBuffer notes_path;
        join_path(notes_path, folder.c_str(), common::kNotesFileName);
        if (!rt::write_file(notes_path.c_str(), notes.c_str())) {
            fail("无法写入文件：", notes_path.c_str());
            report_failure();
            return;
        }
    }

    status_label().set_text("  正在生成更新文件......");
    s.manifest.clear();
    start_names();
    walk_release_folder();
    s.names.reset();
    if (s.closed) {
        s.manifest.clear();
        return;
    }
    if (s.failure.empty()) {
        s.manifest.set_version(version.c_str());
        TextBuffer release_manifest;
        join_path(release_manifest, folder.c_str(), common::kManifestName);
        finish_manifest(release_manifest.c_str());
    }
    s.manifest.clear();
    if (!s.failure.empty()) {
        report_failure();
        return;
    }
    status_label().set_text("  更新文件生成完毕！");
    rt::message_box("更新文件生成完毕！", kInform);
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
    previous_version_edit().set_text(kFirstRelease);
    notes_edit().set_text(kFirstReleaseNotes);
    version_edit().set_text("");
    s.baseline_flag = 0;
    s.baseline.clear();

    rt::Text chosen = rt::choose_folder(main_window(), kBrowseTitle);
    if (!analysable(chosen.c_str())) {
        changed_list().clear();
        status_label().set_text(kStartStatus);
    }
    rt::Text before = folder_edit().text();
    folder_edit().set_text(chosen.c_str());
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

RT_CALL void main_window_closing() {
    g_state->closed = true;
}

RT_CALL void help_clicked() {
    help_window().load_modal();
}

}  // extern "C"
