// What the updater's scenario and reliability tests share: an installation
// folder with the updater copied in as "update.exe", nginx serving the
// version text and an update directory written in the generator's format
// (minizip), the probe's host name answered by the test process's own hosts
// file, and a snapshot of the installed files to compare before and after a
// run. `Update` runs the program on each system through `ScenarioTest`; the
// free functions serve fixtures that start the program themselves.
//
// The hosts file: the process enters a mount namespace of its own (where a
// test may also mount small file systems) with a file bound over
// /etc/hosts, which the programs it starts inherit.
//
//   class MyUpdate : public update_test::Update {};
//   TEST_P(MyUpdate, Installs) {
//       install(release_one());
//       publish(server_ / "updates", files, {"a.txt"}, "2.0");
//       auto r = run(script(2));
//       EXPECT_TRUE(r.contains(update_test::kCompleted)) << r.transcript;
//   }
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/scenario.h"

namespace update_test {

namespace fs = std::filesystem;

inline constexpr time_t kOld = 1700000000;
inline constexpr time_t kNew = 1700086400;

inline constexpr char kCompleted[] =
    "unit-text 标签_功能说明 \"您的产品及组件已经更新到最新状态。\"";
inline constexpr char kServerReason[] =
    "unit-text 编辑框_出错提示 \"    获取升级列表文件失败，可能服务器正在维护中，请稍后再试！\"";
inline constexpr char kNetworkReason[] =
    "unit-text 编辑框_出错提示 \"    网络中断，请检查您的网络是否工作正常！\"";

std::string gbk(const std::string& utf8);
std::string read_all(const fs::path& path);
void write_all(const fs::path& path, const std::string& bytes);

// Whether this process has its own mount namespace and /etc/hosts (set up
// once, before any thread starts).
bool own_mount_namespace();
// Whether the probe's host name resolves, for the programs started next.
void set_probe_answer(bool resolves);

// One file of a release, in UTF-8.
struct ReleaseFile {
    std::string name;
    std::string path;  // "文件路径", with backslashes
    std::string content;
    time_t time = kOld;
};

// Three files: one in the root, one in a folder, one in a folder below it.
std::vector<ReleaseFile> release_one();

// A ZIP archive at `out` of one entry (its name in GBK); the archive's bytes.
std::string zip_of(const std::string& entry_gbk, const std::string& content, const fs::path& out);

// A manifest in the generator's form (GBK, CR LF): every file's section,
// "文件尺寸" for the packed ones, the version last.
std::string manifest_text(const std::vector<ReleaseFile>& files,
                          const std::map<std::string, int64_t>& sizes, const std::string& version,
                          bool with_version = true);

// Writes the archives of `packed` and the manifest archive into `dir`; the
// manifest's bytes. `archive_sizes` gets each archive's size.
std::string publish(const fs::path& dir, const std::vector<ReleaseFile>& files,
                    const std::vector<std::string>& packed, const std::string& version,
                    bool with_version = true,
                    std::map<std::string, int64_t>* archive_sizes = nullptr);
// The same with every file packed.
std::string publish_all(const fs::path& dir, const std::vector<ReleaseFile>& files,
                        const std::string& version,
                        std::map<std::string, int64_t>* archive_sizes = nullptr);

// A "文件路径" as a path below the installation, with '/'.
std::string relative_unix(std::string path);
// Where `file` stands in the installation `install`.
fs::path installed_path(const fs::path& install, const ReleaseFile& file);

// `files` installed in `install` as version 1.0 with its manifest.
void install_release(const fs::path& install, const std::vector<ReleaseFile>& files);
// wow.ini in `install` naming the version text and the update directory.
void write_settings(const fs::path& install, const std::string& version_text,
                    const std::string& base);

// The files and folders below `root` as they stand (the updater itself and
// its work folder left out).
std::map<std::string, std::string> snapshot(const fs::path& root);

class Update : public test_support::ScenarioTest {
  protected:
    void SetUp() override;

    // wow.ini naming the version text and the update directory `base`.
    void settings(const std::string& base);

    // The release installed as version 1.0 with its manifest.
    void install(const std::vector<ReleaseFile>& files);

    test_support::ScenarioResult run(const std::string& script);

    // Yes to the prompt, then Next on each page it reaches, then OK.
    static std::string script(int nexts, const std::string& leave = "click 图形按钮_取消\n");

    fs::path install_;
    fs::path server_;
    fs::path program_;
    const test_support::NginxServer* web_ = nullptr;
};

}  // namespace update_test
