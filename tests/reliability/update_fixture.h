// The updater (build/linux-x64/updater/update) in an installation folder of
// the test's own, against nginx on loopback serving a release in the
// generator's format: what the reliability cases share.
//
// The network probe's host name is answered by this process's own hosts
// file: the process enters a mount namespace of its own (where the cases
// may also mount small file systems) with a file bound over /etc/hosts,
// which the programs it starts inherit.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/nginx_server.h"
#include "tests/support/scenario.h"

namespace reliability {

namespace fs = std::filesystem;

std::string read_all(const fs::path& path);
void write_all(const fs::path& path, const std::string& bytes);

// One file of a release, in UTF-8.
struct ReleaseFile {
    std::string name;
    std::string path;  // "文件路径", with backslashes
    std::string content;
    time_t time = 0;
};

// The manifest of `files` (GBK, CR LF) with the version; `sizes` gives the
// "文件尺寸" of the packed files.
std::string manifest_text(const std::vector<ReleaseFile>& files,
                          const std::map<std::string, int64_t>& sizes, const std::string& version);

// Writes one archive per file and the manifest archive into `dir`; the
// manifest's bytes. `archive_sizes` gets each archive's size.
std::string publish(const fs::path& dir, const std::vector<ReleaseFile>& files,
                    const std::string& version,
                    std::map<std::string, int64_t>* archive_sizes = nullptr);

// Every file and folder below `root` but the updater and its work folder.
std::map<std::string, std::string> snapshot(const fs::path& root);

// Whether this process has its own mount namespace and /etc/hosts (set up
// once, before any thread starts).
bool own_mount_namespace();

class UpdateFixture : public ::testing::Test {
  protected:
    // Prepares the scenario run, the server and `install_`'s settings; the
    // installation folder must exist (a case may mount it first).
    void SetUp() override;
    void prepare(const fs::path& install);

    // The files installed as version 1.0 with its manifest.
    void install(const std::vector<ReleaseFile>& files);
    fs::path target(const ReleaseFile& file) const;

    // The environment and command of a run of the updater.
    std::vector<std::string> environment() const;
    std::vector<std::string> command() const;
    // One run to its end: Yes, Next twice, then the OK/Cancel button.
    test_support::ScenarioResult run_to_end();

    fs::path transcript() const { return run_->folder() / "transcript"; }
    fs::path script() const { return run_->folder() / "script"; }

    std::unique_ptr<test_support::ScenarioRun> run_;
    std::unique_ptr<test_support::NginxServer> web_;
    fs::path install_;
    fs::path server_;
    fs::path program_;
};

inline constexpr char kAnswerAndNexts[] =
    "answer yes\nclick 图形按钮_下一步\nclick 图形按钮_下一步\nclick 图形按钮_取消\n";
inline constexpr char kCompleted[] =
    "unit-text 标签_功能说明 \"您的产品及组件已经更新到最新状态。\"";

}  // namespace reliability
