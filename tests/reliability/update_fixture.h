// The updater (build/linux-x64/updater/update) in an installation folder of
// the test's own, against nginx on loopback serving a release in the
// generator's format: what the reliability cases share. The release, the
// hosts file and the snapshots are the updater tests' own
// (tests/updater/update_fixture.h); this fixture starts the program itself,
// so that a case can kill it or put its folder on a file system of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/nginx_server.h"
#include "tests/support/scenario.h"
#include "tests/updater/update_fixture.h"

namespace reliability {

namespace fs = std::filesystem;

using update_test::kCompleted;
using update_test::kNew;
using update_test::kOld;
using update_test::publish_all;
using update_test::read_all;
using update_test::ReleaseFile;
using update_test::snapshot;
using update_test::write_all;

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

}  // namespace reliability
