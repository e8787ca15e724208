#include "tests/reliability/update_fixture.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <zip.h>

#include <fstream>

#include "base/encoding.h"

namespace reliability {

namespace {

constexpr char kProbeHost[] = "www.microsoft.com";
const fs::path kNative = NATIVE_BUILD_DIR;

std::string gbk(const std::string& utf8) {
    return base::utf8_to_gbk(utf8).value();
}

std::string time_text(time_t when) {
    struct tm parts {};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::string zip_of(const std::string& entry_gbk, const std::string& content, const fs::path& out) {
    fs::create_directories(out.parent_path());
    fs::remove(out);
    zipFile zip = zipOpen64(out.c_str(), APPEND_STATUS_CREATE);
    EXPECT_NE(zip, nullptr) << out;
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2023;
    info.tmz_date.tm_mon = 10;
    info.tmz_date.tm_mday = 14;
    EXPECT_EQ(zipOpenNewFileInZip(zip, entry_gbk.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                  Z_DEFLATED, 6),
              ZIP_OK);
    EXPECT_EQ(zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())),
              ZIP_OK);
    zipCloseFileInZip(zip);
    zipClose(zip, nullptr);
    return read_all(out);
}

std::string unix_relative(std::string path) {
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path.substr(1);
}

}  // namespace

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void write_all(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string manifest_text(const std::vector<ReleaseFile>& files,
                          const std::map<std::string, int64_t>& sizes, const std::string& version) {
    std::string text;
    for (const ReleaseFile& f : files) {
        text += "[" + f.name + "]\r\n文件名=" + f.name + "\r\n文件路径=" + f.path +
                "\r\n文件日期=" + time_text(f.time) + "\r\n";
        if (auto size = sizes.find(f.name); size != sizes.end())
            text += "文件尺寸=" + std::to_string(size->second) + "\r\n";
    }
    text += "[版本]\r\n版本号=" + version + "\r\n";
    return gbk(text);
}

std::string publish(const fs::path& dir, const std::vector<ReleaseFile>& files,
                    const std::string& version, std::map<std::string, int64_t>* archive_sizes) {
    std::map<std::string, int64_t> sizes;
    for (const ReleaseFile& f : files)
        sizes[f.name] = static_cast<int64_t>(
            zip_of(gbk(f.name), f.content, dir / test_support::u8path(f.name + ".zip")).size());
    const std::string manifest = manifest_text(files, sizes, version);
    zip_of("up.dat", manifest, dir / "up.dat.zip");
    if (archive_sizes != nullptr)
        *archive_sizes = sizes;
    return manifest;
}

std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = test_support::utf8_of(fs::relative(entry.path(), root));
        if (name == "update.exe" || name == "update" || name.rfind("update/", 0) == 0)
            continue;
        if (entry.is_regular_file())
            files[name] = read_all(entry.path());
        else if (entry.is_directory())
            files[name + "/"] = "";
    }
    return files;
}

bool own_mount_namespace() {
    static const bool done = [] {
        const fs::path hosts =
            fs::temp_directory_path() / ("reliability-hosts-" + std::to_string(getpid()));
        write_all(hosts, "127.0.0.1 localhost\n127.0.0.1 " + std::string(kProbeHost) + "\n");
        if (unshare(CLONE_NEWNS) != 0)
            return false;
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return false;
        return mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0;
    }();
    return done;
}

void UpdateFixture::SetUp() {
    if (!test_support::NginxServer::installed())
        GTEST_SKIP() << "nginx is not installed";
    if (!own_mount_namespace())
        GTEST_SKIP() << "no mount namespace of our own for the probe's host name";
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
    write_all(install_ / "wow.ini", "[s]\r\nsv=" + web_->address("version.txt") +
                                        "\r\n[v]\r\nva=" + web_->address("updates/") + "\r\n");
}

fs::path UpdateFixture::target(const ReleaseFile& file) const {
    return install_ / test_support::u8path(unix_relative(file.path));
}

void UpdateFixture::install(const std::vector<ReleaseFile>& files) {
    for (const ReleaseFile& f : files) {
        write_all(target(f), f.content);
        test_support::set_last_write(target(f), f.time);
    }
    write_all(install_ / "up.dat", manifest_text(files, {}, "1.0"));
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
