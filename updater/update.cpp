// The online updater: the start window compares the installed version
// ("ver.ini") with the version text on the server and offers the update
// wizard, which fetches the manifest archive, lists the files whose time
// stamps differ from the installed manifest, downloads and unpacks their
// archives, puts them in place and records the downloaded manifest as the
// installed one.
//
// Where this program is stricter than "run every step on whatever is on
// disk":
// - A list fetch that fails in any way (no reply, an error reply, a server
//   without ranges, a damaged archive, a manifest without its version)
//   shows the error panel, with the reason chosen by the silent network
//   probe; the installed manifest is not touched and Next stays off.
// - Names from the server are checked before the first download: a listed
//   name that is not a bare file name or a path that could leave the
//   installation (or lead into the work folder) refuses the whole update.
// - A file archive that fails to download or unpack stops the update before
//   anything is replaced, naming the file.
// - The replacement moves each existing target aside before the new file
//   takes its place (so a file in use, such as a running launcher, can be
//   replaced), and makes the folders a new file needs (a release may add a
//   folder); a failure puts back everything already replaced, so the
//   installed files always match the installed manifest. What was moved
//   aside and is still in use is removed at a later start.
// - Wherever a page asks the user to click Cancel or OK, the Cancel button
//   is shown in place of Next, so the user can always leave.
#include "common/manifest/gbk_text.h"
#include "common/manifest/manifest.h"
#include "common/manifest/name_counts.h"
#include "common/manifest/text_buffer.h"
#include "rt/archive.h"
#include "rt/files.h"
#include "rt/internet.h"
#include "rt/message_box.h"
#include "rt/network.h"
#include "rt/process.h"
#include "rt/profile.h"
#include "rt/program.h"
#include "rt/text.h"
#include "units.h"
#include "updater/crystal_progress_bar.h"
#include "updater/progress_bar_platform.h"
#include "updater/resumable_downloader.h"
#include "updater/update_files.h"

namespace {

using common::TextBuffer;
using namespace ui;

// The host whose name the network probe resolves.
constexpr char kProbeHost[] = "www.microsoft.com";

constexpr char kWelcomeNetwork[] = "连接Internet正常，可以进行在线升级操作。";
constexpr char kWelcomeGuide[] = "点击下一步将开始查询可用的更新。";
constexpr char kOfflineNetwork[] = "连接Internet失败，请检查网络连接后重新测试。";
constexpr char kCancelGuide[] = "点击取消将退出在线升级。";
constexpr char kCloseGuide[] = "请点击确定，关闭更新窗口！";
constexpr char kNewsHint[] = "如果想了解最新的发布动态，请访问我们的官方网站！";
constexpr char kServerReason[] = "    获取升级列表文件失败，可能服务器正在维护中，请稍后再试！";
constexpr char kNetworkReason[] = "    网络中断，请检查您的网络是否工作正常！";
constexpr char kDone[] = "完成";

constexpr int32_t kGuideLeft = 116;
constexpr int32_t kGuideTop = 217;

// Bars are made on a wizard canvas: 100 steps in scheme 9.
void attach_bar(updater::CrystalProgressBar& bar, rt::DrawingBoard canvas) {
    bar.Attach(canvas.window_id(), canvas.unit_id());
    bar.SetMaximum(100);
    bar.SetScheme(9);
}

struct State {
    rt::Text version_address;  // wow.ini [s] sv
    rt::Text base_address;     // wow.ini [v] va
    rt::Text wizard_base;      // the base address the wizard was opened with
    rt::Text latest;           // the version text fetched first
    int32_t step = 0;          // 0 welcome, 1 list being fetched, 2 list shown
    int64_t bytes_done = 0;
    int64_t bytes_total = 0;
    updater::CrystalProgressBar bar1{updater::window_bar_platform()};  // list, then all files
    updater::CrystalProgressBar bar2{updater::window_bar_platform()};  // the current file
    updater::ResumableDownloader downloader;
    TextBuffer folder;            // the updater folder, without a final separator
    common::Manifest downloaded;  // "\update\up.dat"
    common::Manifest installed;   // "\up.dat"
};

State* g_state;

// ---- paths ----

void in_folder(TextBuffer& out, const char* relative) {
    out.clear();
    out << g_state->folder.c_str() << relative;
}

void work_folder(TextBuffer& out) {
    in_folder(out, "\\update");
}

rt::Text text_of(rt::Bytes& bytes) {
    TextBuffer text;
    uint32_t length = 0;
    const uint8_t* data = bytes.count() != 0 ? bytes.elements() : nullptr;
    while (length < bytes.count() && data[length] != 0)
        ++length;
    if (length != 0)
        text.append(reinterpret_cast<const char*>(data), length);
    return rt::Text::copy(text.c_str());
}

bool load_manifest(common::Manifest& manifest, const char* path) {
    rt::Bytes bytes = rt::read_file(path);
    manifest.clear();
    if (bytes.block() == nullptr)
        return false;
    manifest.parse(bytes.count() != 0 ? bytes.elements() : nullptr, bytes.count());
    return true;
}

const char* value_or_empty(const common::Manifest& manifest, const char* section, const char* key) {
    const char* value = manifest.value(section, key);
    return value != nullptr ? value : "";
}

// ---- downloads ----

// Reports come at every 10240 bytes; a bar is drawn again only when its
// position moves (a large file's percent stays for many reports).
void on_progress(const char*, int32_t, int32_t, int32_t percent) {
    State& s = *g_state;
    updater::CrystalProgressBar* bar = s.step == 1 ? &s.bar1 : s.step == 2 ? &s.bar2 : nullptr;
    if (bar != nullptr && bar->SetPosition(0, false) != percent)
        bar->SetPosition(percent);
}

void on_finish(const char*, int32_t, const char*, int32_t) {}

bool download(const char* address, const char* path) {
    State& s = *g_state;
    s.downloader.Init(on_progress, on_finish);
    s.downloader.SetSavePath(path);
    s.downloader.SetUrl(address, "");
    return s.downloader.Download();
}

// ---- pages ----

bool network_reachable() {
    return !rt::resolve_host(kProbeHost).empty();
}

// Cancel (or OK) in place of Next.
void offer_cancel(const char* caption) {
    next_button().hide();
    cancel_button().set_text(caption);
    cancel_button().show();
}

void probe() {
    if (network_reachable()) {
        network_label().set_text(kWelcomeNetwork);
        guide_label().set_text(kWelcomeGuide);
        cancel_button().hide();
        next_button().show();
        next_button().set_enabled(true);
    } else {
        network_label().set_text(kOfflineNetwork);
        guide_label().set_text(kCancelGuide);
        next_button().set_enabled(false);
        offer_cancel("取消");
    }
}

void show_error(const char* reason) {
    next_button().set_enabled(false);
    list_panel().hide();
    bar1_board().hide();
    bar2_board().hide();
    error_edit().set_text(reason);
    error_panel().show();
    guide_label().place(kGuideLeft, kGuideTop, guide_label().width(), guide_label().height());
    guide_label().set_text(kCancelGuide);
    guide_label().show();
    offer_cancel("取消");
}

// The Cancel button becomes OK: the first three of its faces are the
// "确定" ones the program keeps (its disabled face stays).
void offer_ok() {
    const rt::PictureButton::State states[] = {
        rt::PictureButton::kNormal, rt::PictureButton::kHover, rt::PictureButton::kPressed};
    for (rt::PictureButton::State state : states) {
        rt::Bytes face = ok_faces().face(state);
        cancel_button().set_face(face, state);
    }
    offer_cancel("确定");
}

// The last pages: OK (the Cancel button's other face) closes the wizard.
void closing_page(const char* function_text) {
    function_label().set_text(function_text);
    network_label().move_to(network_label().left(), 80);
    network_label().set_text(kNewsHint);
    offer_ok();
}

void no_update_page() {
    State& s = *g_state;
    function_label().set_text("目前没有推荐给您的产品更新");
    network_label().move_to(network_label().left(), 80);
    network_label().set_text(kNewsHint);
    next_button().hide();
    TextBuffer work;
    work_folder(work);
    rt::delete_folder(work.c_str());
    bar1_board().hide();
    guide_label().move_to(kGuideLeft, kGuideTop);
    guide_label().set_text(kCloseGuide);
    offer_ok();
    s.step = 1;
}

// ---- the list ----

void list_failed() {
    State& s = *g_state;
    s.downloaded.clear();
    show_error(network_reachable() ? kServerReason : kNetworkReason);
}

// Checks the names of the listed files; the reason when one is refused.
bool refuse_entry(const char* name) {
    TextBuffer reason;
    reason << "    更新列表中的文件 '" << name << "' 的名称或路径不安全，已停止本次更新！";
    files_list().clear();
    sizes_list().clear();
    show_error(reason.c_str());
    return false;
}

bool compare_and_list() {
    State& s = *g_state;
    TextBuffer installed_path;
    in_folder(installed_path, "\\up.dat");
    if (!rt::file_exists(installed_path.c_str()))
        updater::build_installed_manifest(s.folder.c_str());
    load_manifest(s.installed, installed_path.c_str());

    const char* server_version =
        value_or_empty(s.downloaded, common::kVersionSection, common::kVersionKey);
    const char* installed_version =
        value_or_empty(s.installed, common::kVersionSection, common::kVersionKey);
    if (common::equal_bytes(server_version, installed_version)) {
        no_update_page();
        return true;
    }

    files_list().clear();
    sizes_list().clear();
    status_list().clear();
    s.bytes_total = 0;
    TextBuffer downloaded_path;
    in_folder(downloaded_path, "\\update\\up.dat");
    common::NameCounts names;
    {
        rt::LineReader lines(downloaded_path.c_str());
        rt::Text line;
        constexpr char kEntry[] = "文件名=";
        constexpr uint32_t kEntryLength = sizeof kEntry - 1;  // 7 bytes in GBK
        while (lines.next(line)) {
            // The writer puts every entry at the start of its line; a value
            // that merely holds the key is no entry.
            const char* text = line.c_str();
            uint32_t matched = 0;
            while (matched < kEntryLength && text[matched] == kEntry[matched])
                ++matched;
            if (matched < kEntryLength)
                continue;
            const char* name = text + kEntryLength;
            const char* remote = value_or_empty(s.downloaded, name, common::kKeyFileDate);
            const char* local = value_or_empty(s.installed, name, common::kKeyFileDate);
            if (common::equal_bytes(remote, local))
                continue;
            if (!updater::safe_entry(name, s.downloaded.value(name, common::kKeyFilePath)) ||
                names.add(name) > 1)
                return refuse_entry(name);
            files_list().add(name);
            const char* size = value_or_empty(s.downloaded, name, common::kKeyFileSize);
            sizes_list().add(size);
            s.bytes_total += updater::size_value(size);
        }
    }

    TextBuffer versions;
    versions << "当前版本：" << installed_version << " --- 最新版本：" << server_version;
    function_label().set_text(versions.c_str());
    TextBuffer count;
    count << "升级到最新版本，需要更新以下 " << static_cast<int64_t>(files_list().count())
          << " 个文件：";
    network_label().set_text(count.c_str());
    list_panel().show();
    bar1_board().hide();
    guide_label().move_to(kGuideLeft, kGuideTop);
    guide_label().set_text("点击下一步进行更新。");
    s.step = 2;
    next_button().set_enabled(true);
    return true;
}

void fetch_list() {
    State& s = *g_state;
    next_button().set_enabled(false);
    retest_button().hide();
    function_label().set_text("正在为您检查最新的产品即组建，请稍后。");
    network_label().set_text("该过程可能需要几分钟。");
    network_label().move_to(network_label().left(), 63);
    guide_label().move_to(guide_label().left(), 188);
    guide_label().set_text("正在下载更新列表......");
    attach_bar(s.bar1, bar1_board());
    s.step = 1;

    TextBuffer work;
    work_folder(work);
    rt::delete_folder(work.c_str());
    rt::create_folder(work.c_str());
    TextBuffer temp;
    in_folder(temp, "\\update\\temp");
    rt::create_folder(temp.c_str());

    TextBuffer address;
    address << s.wizard_base.c_str() << common::kManifestArchiveName;
    TextBuffer archive;
    in_folder(archive, "\\update\\temp\\up.dat.zip");
    TextBuffer manifest;
    in_folder(manifest, "\\update\\up.dat");
    const bool fetched =
        download(address.c_str(), archive.c_str()) && rt::unzip(archive.c_str(), work.c_str()) &&
        load_manifest(s.downloaded, manifest.c_str()) &&
        s.downloaded.value(common::kVersionSection, common::kVersionKey) != nullptr &&
        !common::equal_bytes(
            value_or_empty(s.downloaded, common::kVersionSection, common::kVersionKey), "");
    if (!fetched) {
        list_failed();
        return;
    }
    compare_and_list();
}

// ---- the download phase and the replacement ----

void file_failed(const char* name, const char* what) {
    TextBuffer reason;
    reason << "    " << what << "更新文件 '" << name << "' 时出错";
    const char* message = g_state->downloader.last_message();
    if (message[0] != '\0' && !common::equal_bytes(message, "下载完毕"))
        reason << "（" << message << "）";
    reason << "，本次更新未做任何改动，请稍后再试！";
    show_error(reason.c_str());
}

void completed_page() {
    guide_label().set_text(kCloseGuide);
    closing_page("您的产品及组件已经更新到最新状态。");
    // Beside OK, which now stands where Next stood.
    done_button().move_to(157, done_button().top());
    done_button().show();
}

void replace_listed_files() {
    State& s = *g_state;
    const int32_t count = files_list().count();
    auto* sources = new TextBuffer[count > 0 ? count : 1];
    auto* targets = new TextBuffer[count > 0 ? count : 1];
    auto* files = new updater::Replacement[count > 0 ? count : 1];
    for (int32_t r = 0; r < count; ++r) {
        rt::Text name = files_list().row(r);
        in_folder(sources[r], "\\update\\");
        sources[r] << name.c_str();
        in_folder(targets[r], value_or_empty(s.downloaded, name.c_str(), common::kKeyFilePath));
        files[r].source = sources[r].c_str();
        files[r].target = targets[r].c_str();
        files[r].root_length = s.folder.length();
    }
    int32_t failed = updater::replace_files(files, count);
    TextBuffer downloaded;
    in_folder(downloaded, "\\update\\up.dat");
    TextBuffer installed;
    in_folder(installed, "\\up.dat");
    if (failed < 0 && !rt::copy_file(downloaded.c_str(), installed.c_str())) {
        updater::undo_replacement(files, count);
        failed = count;
    }
    if (failed >= 0) {
        rt::Text name = failed < count ? files_list().row(failed) : rt::Text::copy("up.dat");
        TextBuffer reason;
        reason << "    替换文件 '" << name.c_str() << "' 时出错，可能文件正在使用中，请检查！";
        show_error(reason.c_str());
    } else {
        updater::finish_replacement(files, count);
        TextBuffer work;
        work_folder(work);
        rt::delete_folder(work.c_str());
        completed_page();
    }
    delete[] files;
    delete[] targets;
    delete[] sources;
}

void download_phase() {
    State& s = *g_state;
    guide_label().hide();
    next_button().set_enabled(false);
    attach_bar(s.bar1, bar1_board());
    s.bar1.SetPosition(0);
    bar1_board().place(bar1_board().left(), bar1_board().top(), bar1_board().width(), 20);
    attach_bar(s.bar2, bar2_board());
    s.bar2.SetPosition(0);
    bar1_board().show();
    bar2_board().show();
    status_list().add("");
    s.bytes_done = 0;

    const int32_t count = files_list().count();
    for (int32_t r = 0; r < count; ++r) {
        files_list().select(r);
        sizes_list().select(r);
        rt::Text name = files_list().row(r);
        TextBuffer address;
        address << s.wizard_base.c_str() << name.c_str() << common::kArchiveSuffix;
        TextBuffer archive;
        in_folder(archive, "\\update\\temp\\");
        archive << name.c_str() << common::kArchiveSuffix;
        if (!download(address.c_str(), archive.c_str())) {
            file_failed(name.c_str(), "下载");
            return;
        }
        TextBuffer work;
        work_folder(work);
        TextBuffer unpacked;
        in_folder(unpacked, "\\update\\");
        unpacked << name.c_str();
        if (!rt::unzip(archive.c_str(), work.c_str()) || rt::file_size(unpacked.c_str()) < 0) {
            file_failed(name.c_str(), "解压");
            return;
        }
        s.bytes_done +=
            updater::size_value(value_or_empty(s.downloaded, name.c_str(), common::kKeyFileSize));
        status_list().insert(kDone, 0);
        // In doubles: a 64-bit division is a library call on i386.
        s.bar1.SetPosition(s.bytes_total > 0
                               ? static_cast<int32_t>(static_cast<double>(s.bytes_done) * 100.0 /
                                                      static_cast<double>(s.bytes_total))
                               : 0);
    }
    if (status_list().count() >= 2)
        status_list().select(status_list().count() - 2);
    bar1_board().hide();
    bar2_board().hide();
    list_panel().hide();
    error_panel().hide();
    guide_label().set_text("正在替换更新文件，请稍等......");
    guide_label().show();
    replace_listed_files();
}

void end_program() {
    rt_exit(0);
}

}  // namespace

extern "C" {

RT_CALL void app_initialise_globals() {
    g_state = new State();
    rt::Text folder = rt::program_folder();
    g_state->folder << folder.c_str();
}

RT_CALL void app_release_globals() {
    delete g_state;
    g_state = nullptr;
}

// The version check.
RT_CALL void start_created() {
    State& s = *g_state;
    updater::remove_moved_aside(s.folder.c_str());
    TextBuffer settings;
    in_folder(settings, "/wow.ini");
    s.version_address = rt::read_profile(settings.c_str(), "s", "sv");
    s.base_address = rt::read_profile(settings.c_str(), "v", "va");
    {
        rt::Bytes body = rt::http_get(s.version_address.c_str());
        s.latest = text_of(body);
    }
    rt::Text current = rt::read_text_file("ver.ini");
    current_label().set_text(current.c_str());
    {
        rt::Bytes body = rt::http_get(s.version_address.c_str());
        rt::Text shown = text_of(body);
        latest_label().set_text(shown.c_str());
    }
    if (s.latest == current.c_str()) {
        auto_update_button().set_enabled(false);
        return;
    }
    if (rt::message_box("文件需要更新", RT_MB_ICON_NONE | RT_MB_YES_NO, "更新提示") ==
        RT_MB_ANSWER_YES) {
        s.wizard_base = rt::Text::copy(s.base_address.c_str());
        wizard().load_modal();
        end_program();
    }
}

RT_CALL void auto_update_clicked() {
    State& s = *g_state;
    start_window().hide();
    s.wizard_base = rt::Text::copy(s.base_address.c_str());
    wizard().load_modal();
    end_program();
}

RT_CALL void quit_clicked() {
    end_program();
}

RT_CALL void wizard_created() {
    probe();
    g_state->step = 0;
}

RT_CALL void retest_clicked() {
    probe();
}

RT_CALL void next_clicked() {
    switch (g_state->step) {
        case 0:
            fetch_list();
            break;
        case 2:
            download_phase();
            break;
        default:
            break;
    }
}

RT_CALL void cancel_clicked() {
    end_program();
}

RT_CALL void done_clicked() {
    end_program();
}

}  // extern "C"
