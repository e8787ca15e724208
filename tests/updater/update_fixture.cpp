#include "tests/updater/update_fixture.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <fstream>

#include "base/encoding.h"

namespace update_test {

namespace {

using test_support::u8path;

const fs::path kNative = NATIVE_BUILD_DIR;
constexpr char kProbeHost[] = "www.microsoft.com";

std::string time_text(time_t when) {
    struct tm parts {};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

fs::path hosts_file() {
    static const fs::path path =
        fs::temp_directory_path() / ("update-tests-hosts-" + std::to_string(getpid()));
    return path;
}

}  // namespace

std::string gbk(const std::string& utf8) {
    return base::utf8_to_gbk(utf8).value();
}

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void write_all(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool own_mount_namespace() {
    static const bool done = [] {
        write_all(hosts_file(), "127.0.0.1 localhost\n");
        if (unshare(CLONE_NEWNS) != 0)
            return false;
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return false;
        return mount(hosts_file().c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0;
    }();
    return done;
}

// Written in place: the bound file keeps its inode.
void set_probe_answer(bool resolves) {
    std::ofstream out(hosts_file(), std::ios::trunc);
    out << "127.0.0.1 localhost\n";
    if (resolves)
        out << "127.0.0.1 " << kProbeHost << "\n";
}

std::vector<ReleaseFile> release_one() {
    return {{"a.txt", "\\a.txt", "alpha", kOld},
            {"x.dll", "\\Data\\x.dll", std::string(30000, 'x'), kOld},
            {"地图.bin", "\\Data\\Maps\\地图.bin", std::string(5000, 'm'), kOld}};
}

std::string zip_of(const std::string& entry_gbk, const std::string& content, const fs::path& out) {
    fs::create_directories(out.parent_path());
    zipFile zip = zipOpen64(out.c_str(), APPEND_STATUS_CREATE);
    EXPECT_NE(zip, nullptr) << out;
    // A real DOS time, as the generator's archives carry.
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2023;
    info.tmz_date.tm_mon = 10;
    info.tmz_date.tm_mday = 14;
    info.tmz_date.tm_hour = 22;
    EXPECT_EQ(zipOpenNewFileInZip(zip, entry_gbk.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                  Z_DEFLATED, 6),
              ZIP_OK);
    EXPECT_EQ(zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())),
              ZIP_OK);
    zipCloseFileInZip(zip);
    zipClose(zip, nullptr);
    return read_all(out);
}

std::string manifest_text(const std::vector<ReleaseFile>& files,
                          const std::map<std::string, int64_t>& sizes, const std::string& version,
                          bool with_version) {
    std::string text;
    for (const ReleaseFile& f : files) {
        text += "[" + f.name + "]\r\n文件名=" + f.name + "\r\n文件路径=" + f.path +
                "\r\n文件日期=" + time_text(f.time) + "\r\n";
        if (auto size = sizes.find(f.name); size != sizes.end())
            text += "文件尺寸=" + std::to_string(size->second) + "\r\n";
    }
    if (with_version)
        text += "[版本]\r\n版本号=" + version + "\r\n";
    return gbk(text);
}

std::string publish(const fs::path& dir, const std::vector<ReleaseFile>& files,
                    const std::vector<std::string>& packed, const std::string& version,
                    bool with_version, std::map<std::string, int64_t>* archive_sizes) {
    std::map<std::string, int64_t> sizes;
    for (const ReleaseFile& f : files) {
        if (std::find(packed.begin(), packed.end(), f.name) == packed.end())
            continue;
        const fs::path archive = dir / u8path(f.name + ".zip");
        fs::remove(archive);
        sizes[f.name] = static_cast<int64_t>(zip_of(gbk(f.name), f.content, archive).size());
    }
    const std::string manifest = manifest_text(files, sizes, version, with_version);
    fs::remove(dir / "up.dat.zip");
    zip_of("up.dat", manifest, dir / "up.dat.zip");
    if (archive_sizes != nullptr)
        *archive_sizes = sizes;
    return manifest;
}

std::string publish_all(const fs::path& dir, const std::vector<ReleaseFile>& files,
                        const std::string& version, std::map<std::string, int64_t>* archive_sizes) {
    std::vector<std::string> packed;
    for (const ReleaseFile& f : files)
        packed.push_back(f.name);
    return publish(dir, files, packed, version, true, archive_sizes);
}

std::string relative_unix(std::string path) {
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path.substr(1);
}

fs::path installed_path(const fs::path& install, const ReleaseFile& file) {
    return install / u8path(relative_unix(file.path));
}

void install_release(const fs::path& install, const std::vector<ReleaseFile>& files) {
    for (const ReleaseFile& f : files) {
        const fs::path path = installed_path(install, f);
        write_all(path, f.content);
        test_support::set_last_write(path, f.time);
    }
    write_all(install / "up.dat", manifest_text(files, {}, "1.0"));
}

void write_settings(const fs::path& install, const std::string& version_text,
                    const std::string& base) {
    write_all(install / "wow.ini", "[s]\r\nsv=" + version_text + "\r\n[v]\r\nva=" + base + "\r\n");
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

void Update::SetUp() {
    ScenarioTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
        return;
    if (!own_mount_namespace())
        GTEST_SKIP() << "no mount namespace of our own for the probe's host name";
    set_probe_answer(true);
    install_ = scenario().folder() / u8path("游戏");
    server_ = scenario().folder() / "server";
    fs::create_directories(install_);
    fs::create_directories(server_ / "updates");
    const fs::path built =
        windows() ? program("update", {"internet", "eCompress"}) : kNative / "updater" / "update";
    // "update.exe" on every system, as the launcher starts it: on Linux a
    // program named "update" would stand where the work folder goes.
    program_ = install_ / "update.exe";
    fs::copy_file(built, program_, fs::copy_options::overwrite_existing);
    web_ = &serve(server_);
    write_all(server_ / "version.txt", "2.0");
    write_all(install_ / "ver.ini", "1.0");
    settings(web_->address("updates/"));
}

void Update::settings(const std::string& base) {
    write_settings(install_, web_->address("version.txt"), base);
}

void Update::install(const std::vector<ReleaseFile>& files) {
    install_release(install_, files);
}

test_support::ScenarioResult Update::run(const std::string& script) {
    test_support::ScenarioResult r =
        ScenarioTest::run(program_, {.script = script, .working_folder = install_});
    EXPECT_EQ(r.exit_code, 0) << r.err << r.transcript;
    return r;
}

std::string Update::script(int nexts, const std::string& leave) {
    std::string s = "answer yes\n";
    for (int i = 0; i < nexts; ++i)
        s += "click 图形按钮_下一步\n";
    return s + leave;
}

}  // namespace update_test
