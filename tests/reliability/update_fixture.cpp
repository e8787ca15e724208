#include "tests/reliability/update_fixture.h"

namespace reliability {

namespace {

const fs::path kNative = NATIVE_BUILD_DIR;

}  // namespace

void UpdateFixture::SetUp() {
    if (!test_support::NginxServer::installed())
        GTEST_SKIP() << "nginx is not installed";
    if (!update_test::own_mount_namespace())
        GTEST_SKIP() << "no mount namespace of our own for the probe's host name";
    update_test::set_probe_answer(true);
    run_ = std::make_unique<test_support::ScenarioRun>(test_support::System::linux_x64);
    server_ = run_->folder() / "server";
    fs::create_directories(server_ / "updates");
    web_ = std::make_unique<test_support::NginxServer>(server_);
    ASSERT_TRUE(web_->running()) << web_->error();
    write_all(server_ / "version.txt", "2.0");
}

void UpdateFixture::prepare(const fs::path& install) {
    install_ = install;
    // "update.exe", as the launcher starts it: on Linux a program named
    // "update" would stand where the work folder goes.
    program_ = install_ / "update.exe";
    fs::copy_file(kNative / "updater" / "update", program_, fs::copy_options::overwrite_existing);
    write_all(install_ / "ver.ini", "1.0");
    update_test::write_settings(install_, web_->address("version.txt"), web_->address("updates/"));
}

fs::path UpdateFixture::target(const ReleaseFile& file) const {
    return update_test::installed_path(install_, file);
}

void UpdateFixture::install(const std::vector<ReleaseFile>& files) {
    update_test::install_release(install_, files);
}

std::vector<std::string> UpdateFixture::environment() const {
    std::vector<std::string> environment = run_->environment();
    environment.push_back("WJRT_TRANSCRIPT=" + transcript().string());
    environment.push_back("WJRT_SCRIPT=" + script().string());
    return environment;
}

std::vector<std::string> UpdateFixture::command() const {
    return run_->command(program_);
}

test_support::ScenarioResult UpdateFixture::run_to_end() {
    test_support::ScenarioResult r =
        run_->run(program_, {.script = std::string(kAnswerAndNexts), .working_folder = install_});
    EXPECT_EQ(r.exit_code, 0) << r.err << r.transcript;
    return r;
}

}  // namespace reliability
