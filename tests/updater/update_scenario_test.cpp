// The updater (build/linux-x64/updater/update) driven by scripts against
// nginx on loopback serving an update directory in the generator's format
// (and the tests' fault-injecting server where nginx cannot misbehave):
// first install, a second release, equal versions, equal dates, and the
// faults, each judged by the installed files, "up.dat" and what the wizard
// shows.
//
// The network probe's host name is answered by this process's own hosts
// file: the test runs in a mount namespace of its own with a file bound over
// /etc/hosts, which the programs it starts inherit.
#include <gtest/gtest.h>

#include <signal.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/encoding.h"
#include "tests/services/archives/zip_fixture.h"
#include "tests/support/fault_http_server.h"
#include "tests/support/picture.h"
#include "tests/support/scenario.h"
#include "tests/updater/update_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace update_test;
using test_support::FaultHttpServer;
using test_support::FolderBuilder;
using test_support::ScenarioResult;
using test_support::System;
using test_support::u8path;

const fs::path kNative = NATIVE_BUILD_DIR;

// The roads that must also hold under wine64.
class UpdateEverywhere : public Update {};

TEST_P(UpdateEverywhere, FirstInstallFetchesEveryFileAndRecordsTheManifest) {
    std::vector<ReleaseFile> files = release_one();
    // Installed already, with another time stamp: fetched again, as its
    // recorded date cannot match. A file the release does not carry stays.
    write_all(install_ / "a.txt", "old alpha");
    write_all(install_ / "mine.txt", "the player's own");
    fs::create_directories(install_ / "Data" / "Maps");
    const std::string manifest =
        publish(server_ / "updates", files, {"a.txt", "x.dll", "地图.bin"}, "2.0");

    ScenarioResult r = run(script(2));
    EXPECT_TRUE(
        r.contains("msgbox title=\"更新提示\" icon=none buttons=yesno text=\"文件需要更新\""))
        << r.transcript;
    EXPECT_TRUE(r.contains("unit-text 当前 \"1.0\"")) << r.transcript;
    EXPECT_TRUE(r.contains("unit-text 最新 \"2.0\"")) << r.transcript;
    EXPECT_TRUE(r.contains("unit-text 标签_功能说明 \"当前版本：未知 --- 最新版本：2.0\""))
        << r.transcript;
    EXPECT_TRUE(r.contains("unit-text 标签_网络状态 \"升级到最新版本，需要更新以下 3 个文件：\""))
        << r.transcript;
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    for (const ReleaseFile& f : files)
        EXPECT_EQ(read_all(install_ / u8path(relative_unix(f.path))), f.content) << f.name;
    EXPECT_EQ(read_all(install_ / "mine.txt"), "the player's own");
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
    EXPECT_FALSE(fs::exists(install_ / "update"));
}

TEST_P(Update, SecondReleaseFetchesTheOneChangedFile) {
    std::vector<ReleaseFile> files = release_one();
    install(files);
    files[1].content = std::string(30000, 'y');
    files[1].time = kNew;
    const std::string manifest = publish(server_ / "updates", files, {"x.dll"}, "2.0");

    ScenarioResult r = run(script(2));
    EXPECT_TRUE(r.contains("list-insert 列表框_更新文件 0 \"x.dll\"")) << r.transcript;
    EXPECT_TRUE(r.contains("unit-text 标签_网络状态 \"升级到最新版本，需要更新以下 1 个文件：\""))
        << r.transcript;
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    EXPECT_EQ(read_all(install_ / "Data" / "x.dll"), files[1].content);
    EXPECT_EQ(read_all(install_ / "a.txt"), "alpha");
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
    EXPECT_FALSE(fs::exists(install_ / "Data" / "x.dll.update-old"));
    std::vector<std::string> fetched;
    for (const auto& request : web_->requests())
        fetched.push_back(request.uri);
    EXPECT_EQ(std::count(fetched.begin(), fetched.end(), "/updates/a.txt.zip"), 0);
}

TEST_P(Update, EqualVersionsShowTheNoUpdatePage) {
    std::vector<ReleaseFile> files = release_one();
    install(files);
    publish(server_ / "updates", files, {}, "1.0");
    const auto before = snapshot(install_);

    ScenarioResult r = run(script(1));
    EXPECT_TRUE(r.contains("unit-text 标签_功能说明 \"目前没有推荐给您的产品更新\""))
        << r.transcript;
    EXPECT_TRUE(r.contains("unit-text 图形按钮_取消 \"确定\"")) << r.transcript;
    EXPECT_EQ(snapshot(install_), before);
}

TEST_P(Update, DifferentVersionsWithEqualDatesRecordTheManifest) {
    std::vector<ReleaseFile> files = release_one();
    install(files);
    const std::string manifest = publish(server_ / "updates", files, {}, "1.1");

    ScenarioResult r = run(script(2));
    EXPECT_TRUE(r.contains("unit-text 标签_网络状态 \"升级到最新版本，需要更新以下 0 个文件：\""))
        << r.transcript;
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
    EXPECT_FALSE(fs::exists(install_ / "update"));
}

TEST_P(Update, EqualVersionTextDisablesTheUpdateButton) {
    write_all(install_ / "ver.ini", "2.0");
    ScenarioResult r = run("click 自动更新1\n");
    EXPECT_TRUE(r.contains("unit-enabled 自动更新 0")) << r.transcript;
    EXPECT_FALSE(r.contains("msgbox")) << r.transcript;
}

// Every list fetch that goes wrong ends on the error panel, Next off, the
// installation as it was.
TEST_P(Update, AFailedListFetchChangesNothing) {
    struct Case {
        const char* what;
        std::function<void(const fs::path& dir, const std::vector<ReleaseFile>&)> serve;
    };
    const std::vector<Case> cases = {
        {"no manifest archive", [](const fs::path&, const std::vector<ReleaseFile>&) {}},
        {"a damaged manifest archive",
         [](const fs::path& dir, const std::vector<ReleaseFile>&) {
             write_all(dir / "up.dat.zip", std::string(3000, 'z'));
         }},
        {"a manifest without its version",
         [](const fs::path& dir, const std::vector<ReleaseFile>& files) {
             publish(dir, files, {"a.txt"}, "", false);
         }},
        {"an archive of another name",
         [](const fs::path& dir, const std::vector<ReleaseFile>&) {
             zip_of("other.dat", "[版本]\r\n版本号=2.0\r\n", dir / "up.dat.zip");
         }},
    };
    std::vector<ReleaseFile> files = release_one();
    install(files);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(server_ / "updates");
        fs::create_directories(server_ / "updates");
        files[0].time = kNew;
        c.serve(server_ / "updates", files);
        const auto before = snapshot(install_);
        ScenarioResult r = run(script(1));
        EXPECT_TRUE(r.contains(kServerReason)) << r.transcript;
        EXPECT_TRUE(r.contains("unit-visible 图片框_出错提示 1")) << r.transcript;
        EXPECT_FALSE(r.contains("目前没有推荐给您的产品更新")) << r.transcript;
        EXPECT_FALSE(r.contains("已经更新到最新状态")) << r.transcript;
        EXPECT_EQ(snapshot(install_), before);
    }
}

// Replies that nginx never gives, from the tests' own server. (The same
// faults on a file archive: update_fault_matrix_test.cpp.)
TEST_P(Update, AListFetchFromAFaultyServerChangesNothing) {
    using Fault = FaultHttpServer::Fault;
    std::vector<ReleaseFile> files = release_one();
    install(files);
    files[0].time = kNew;
    publish(server_ / "updates", files, {"a.txt"}, "2.0");
    const std::string archive = read_all(server_ / "updates" / "up.dat.zip");
    const std::vector<std::vector<Fault>> plans = {
        {Fault::IgnoreRange},
        {Fault::DropMidBody},
        {Fault::NoContentRange},
        {Fault::NotFound},
        // Once would start the transfer over from byte 0, which then succeeds.
        {Fault::Unsatisfiable, Fault::Unsatisfiable},
        {Fault::WrongStart},
        {Fault::ShortBody},
        {Fault::NoTotal},
        {Fault::TotalNotNumber},
        {Fault::Gone},
    };
    for (const std::vector<Fault>& plan : plans) {
        SCOPED_TRACE(static_cast<int>(plan[0]));
        FaultHttpServer faulty(std::vector<uint8_t>(archive.begin(), archive.end()));
        faulty.plan(plan);
        settings(faulty.address(""));
        const auto before = snapshot(install_);
        ScenarioResult r = run(script(1));
        EXPECT_TRUE(r.contains(kServerReason)) << r.transcript;
        EXPECT_EQ(snapshot(install_), before);
    }
}

// A file archive that cannot be had or unpacked stops the update before
// anything is replaced; once the server is right, the same update installs.
TEST_P(Update, AFailedFileArchiveStopsBeforeAnyReplacement) {
    std::vector<ReleaseFile> files = release_one();
    install(files);
    const auto before = snapshot(install_);
    files[0].content = "alpha 2";
    files[0].time = kNew;
    files[1].content = std::string(30000, 'y');
    files[1].time = kNew;
    const fs::path dir = server_ / "updates";
    const std::string manifest = publish(dir, files, {"a.txt", "x.dll"}, "2.0");
    const std::string good = read_all(dir / "x.dll.zip");
    // Archives whose headers lie: the entry inflates past its declared size
    // (with the CRC of the declared part, so that only reading on finds
    // it), or its CRC is another's.
    const auto crc_of = [](const std::string& data) {
        return static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    };
    const std::string declared_part = files[1].content.substr(0, 1000);
    for (const char* fault :
         {"missing", "damaged", "another entry", "inflates past its size", "CRC lies"}) {
        SCOPED_TRACE(fault);
        fs::remove(dir / "x.dll.zip");
        const std::string f = fault;
        if (f == "damaged")
            write_all(dir / "x.dll.zip", good.substr(0, good.size() / 2) + std::string(40, 'q'));
        else if (f == "another entry")
            zip_of("y.dll", "other", dir / "x.dll.zip");
        else if (f == "inflates past its size")
            test_support::write_bytes(dir / "x.dll.zip",
                                      archive_fixture::build({{"x.dll", files[1].content, true, 0,
                                                               crc_of(declared_part), 1000}}));
        else if (f == "CRC lies")
            test_support::write_bytes(
                dir / "x.dll.zip",
                archive_fixture::build({{"x.dll", files[1].content, true, 0, 0x12345678}}));
        ScenarioResult r = run(script(2));
        EXPECT_TRUE(r.contains("更新文件 'x.dll' 时出错")) << r.transcript;
        EXPECT_FALSE(r.contains(kCompleted)) << r.transcript;
        EXPECT_EQ(snapshot(install_), before);
        // Not even the work folder holds the refused file.
        if (fs::exists(install_ / "update")) {
            for (const auto& entry : fs::recursive_directory_iterator(install_ / "update"))
                EXPECT_NE(entry.path().filename(), "x.dll") << entry.path();
        }
    }
    fs::remove(dir / "x.dll.zip");
    write_all(dir / "x.dll.zip", good);
    ScenarioResult r = run(script(2));
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    EXPECT_EQ(read_all(install_ / "a.txt"), "alpha 2");
    EXPECT_EQ(read_all(install_ / "Data" / "x.dll"), files[1].content);
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
}

// A replacement that fails half-way puts back what it replaced.
TEST_P(UpdateEverywhere, AFailedReplacementPutsBackWhatItReplaced) {
    std::vector<ReleaseFile> files = release_one();
    install(files);
    fs::create_directories(install_ / "Data" / "held.txt");
    const auto before = snapshot(install_);
    files[0].content = "alpha 2";
    files[0].time = kNew;
    // A new file in a new folder, then one whose place a folder holds: that
    // copy fails after a.txt was replaced and New made.
    files.push_back({"new.txt", "\\New\\Sub\\new.txt", "new", kNew});
    files.push_back({"held.txt", "\\Data\\held.txt", "held", kNew});
    const fs::path dir = server_ / "updates";
    const std::string manifest = publish(dir, files, {"a.txt", "new.txt", "held.txt"}, "2.0");

    ScenarioResult r = run(script(2));
    EXPECT_TRUE(
        r.contains("unit-text 编辑框_出错提示 \"    替换文件 'held.txt' "
                   "时出错，可能文件正在使用中，请检查！\""))
        << r.transcript;
    EXPECT_EQ(snapshot(install_), before);

    // The next run offers the same update; with the place free it installs.
    fs::remove(install_ / "Data" / "held.txt");
    r = run(script(2));
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    EXPECT_EQ(read_all(install_ / "a.txt"), "alpha 2");
    EXPECT_EQ(read_all(install_ / "New" / "Sub" / "new.txt"), "new");
    EXPECT_EQ(read_all(install_ / "Data" / "held.txt"), "held");
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
}

// A release that carries a new updater replaces the running one: the file
// in use is moved aside, and what stays of it is removed at a later start.
TEST_P(UpdateEverywhere, AFileInUseIsMovedAsideAndRemovedLater) {
    std::vector<ReleaseFile> files = release_one();
    install(files);
    const std::string running = read_all(program_);
    files.push_back({"update.exe", "\\update.exe", "the new updater", kNew});
    const std::string manifest = publish(server_ / "updates", files, {"update.exe"}, "2.0");

    ScenarioResult r = run(script(2));
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    EXPECT_EQ(read_all(program_), "the new updater");
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);

    // The next start (of a runnable updater again) removes what was moved aside.
    write_all(program_, running);
    fs::permissions(program_, fs::perms::owner_all);
    write_all(install_ / "ver.ini", "2.0");
    r = run("click 自动更新1\n");
    EXPECT_FALSE(fs::exists(install_ / "update.exe.update-old")) << r.transcript;
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
}

// Two releases that our own package generator wrote, installed one after the
// other: the first into a folder without "up.dat", the second fetching only
// the file that changed.
TEST_P(UpdateEverywhere, InstallsReleasesThatThePackageGeneratorWrote) {
    const fs::path release = scenario().folder() / u8path("发布");
    const fs::path generator_folder = scenario().folder() / "generator";
    fs::create_directories(generator_folder);
    const fs::path generator = generator_folder / scenario().executable_name("packgen");
    fs::copy_file(windows() ? program("packgen", {"eCompress"}) : kNative / "packgen" / "packgen",
                  generator);
    FolderBuilder(release)
        .file("a.txt", "alpha", kOld)
        .file("Data/x.dll", std::string(30000, 'x'), kOld)
        .file("Data/Maps/地图.bin", std::string(5000, 'm'), kOld);
    auto generate = [&](const std::string& version) {
        const std::string script = "click 图形按钮_程序目录选择\nchoose-folder " +
                                   host_path(release) + "\ntype 编辑框_本次版本号 \"" + version +
                                   "\"\nclick 图形按钮_生成更新文件\nanswer ok\nclose\n";
        ScenarioResult g = ScenarioTest::run(generator, {.script = script});
        ASSERT_TRUE(g.contains("更新文件生成完毕！")) << g.transcript;
        // The operator copies the version folder into the update directory.
        fs::copy(release / u8path("上传到服务器的更新文件") / version, server_ / "updates",
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    };
    auto installed_as_released = [&] {
        for (const char* name : {"a.txt", "Data/x.dll", "Data/Maps/地图.bin", "更新说明.TXT"})
            EXPECT_EQ(read_all(install_ / u8path(name)), read_all(release / u8path(name))) << name;
        EXPECT_EQ(read_all(install_ / "up.dat"), read_all(release / "up.dat"));
        EXPECT_FALSE(fs::exists(install_ / "update"));
    };

    // The generator writes its notes file into the release too.
    generate("2.0");
    ScenarioResult r = run(script(2));
    EXPECT_TRUE(r.contains("unit-text 标签_网络状态 \"升级到最新版本，需要更新以下 4 个文件：\""))
        << r.transcript;
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    installed_as_released();

    FolderBuilder(release).file("Data/x.dll", std::string(30000, 'y'), kNew);
    generate("3.0");
    write_all(server_ / "version.txt", "3.0");
    r = run(script(2));
    // The changed file (and the notes file, written again, when the second
    // generation's clock has moved on), not the others.
    EXPECT_TRUE(r.contains("\"x.dll\"")) << r.transcript;
    EXPECT_FALSE(r.contains("\"a.txt\"")) << r.transcript;
    installed_as_released();
}

// In GBK the second byte of "刓" and of "乗" is 0x5C, a backslash: such
// names are neither refused nor split.
TEST_P(Update, NamesWhoseSecondByteIsABackslash) {
    const std::vector<ReleaseFile> files = {{"乗.txt", "\\刓\\乗.txt", "trail", kOld}};
    const std::string manifest = publish(server_ / "updates", files, {"乗.txt"}, "2.0");
    ScenarioResult r = run(script(2));
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    EXPECT_EQ(read_all(install_ / u8path("刓/乗.txt")), "trail");
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
}

TEST_P(Update, AnUnreachableNetworkOffersOnlyCancel) {
    set_probe_answer(false);
    ScenarioResult r = run("answer yes\nclick 图形按钮_取消\n");
    EXPECT_TRUE(
        r.contains("unit-text 标签_网络状态 \"连接Internet失败，请检查网络连接后重新测试。\""))
        << r.transcript;
    EXPECT_TRUE(r.contains("unit-enabled 图形按钮_下一步 0")) << r.transcript;
    EXPECT_FALSE(fs::exists(install_ / "update"));
}

// The first install on real windows, with a picture of every page;
// UPDATE_PICTURES names a folder to keep them in.
class UpdateOnRealWindows : public Update {};

TEST_P(UpdateOnRealWindows, FirstInstallPageByPage) {
    std::vector<ReleaseFile> files = release_one();
    fs::create_directories(install_ / "Data" / "Maps");
    const std::string manifest =
        publish(server_ / "updates", files, {"a.txt", "x.dll", "地图.bin"}, "2.0");
    ScenarioResult r =
        run("answer no\ncapture \"start.png\"\nclick 自动更新\ncapture \"welcome.png\"\n"
            "click 图形按钮_下一步\ncapture \"list.png\"\nclick 图形按钮_下一步\n"
            "capture \"completed.png\"\nclick 图形按钮_取消\n");
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
    const char* env = std::getenv("UPDATE_PICTURES");
    for (const char* name : {"start.png", "welcome.png", "list.png", "completed.png"}) {
        const fs::path picture = scenario().pictures() / name;
        EXPECT_GT(test_support::read_png(picture).width, 0) << name;
        if (env != nullptr && fs::exists(picture))
            fs::copy_file(picture, fs::path(env) / (std::string("update-") + name),
                          fs::copy_options::overwrite_existing);
    }
}

// The bars are painted while a file downloads and stay painted when another
// window covers the wizard and goes away again (the drawing boards keep
// what was painted on them; a repaint of the plain canvas would wipe the
// bars). The manifest archive, padded to five chunks, is the one buffer the
// fault server serves: the list comes whole, the file archive's transfer
// stalls after two chunks, long enough to look, and then fails.
TEST_P(UpdateOnRealWindows, BarsStayDrawnWhenTheWizardIsCoveredAndShownAgain) {
    std::string display;
    for (const std::string& entry : scenario().environment()) {
        if (entry.starts_with("DISPLAY="))
            display = entry;
    }
    ASSERT_FALSE(display.empty());
    std::vector<ReleaseFile> files = release_one();
    const std::string manifest = manifest_text(files, {{"x.dll", 51000}}, "2.0");
    const fs::path archive = server_ / "padded" / "up.dat.zip";
    {
        fs::create_directories(archive.parent_path());
        zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
        ASSERT_NE(zip, nullptr);
        std::string pad(46000, '\0');
        uint32_t seed = 12345;
        for (char& c : pad) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 24);
        }
        const std::pair<const char*, const std::string*> entries[] = {{"up.dat", &manifest},
                                                                      {"pad.bin", &pad}};
        for (const auto& [name, bytes] : entries) {
            zip_fileinfo info{};
            info.tmz_date.tm_year = 2023;
            info.tmz_date.tm_mon = 10;
            info.tmz_date.tm_mday = 14;
            ASSERT_EQ(zipOpenNewFileInZip(zip, name, &info, nullptr, 0, nullptr, 0, nullptr,
                                          Z_DEFLATED, 6),
                      ZIP_OK);
            zipWriteInFileInZip(zip, bytes->data(), static_cast<unsigned>(bytes->size()));
            zipCloseFileInZip(zip);
        }
        zipClose(zip, nullptr);
    }
    const std::string bytes = read_all(archive);
    const size_t chunks = (bytes.size() + 10239) / 10240;
    ASSERT_EQ(chunks, 5u);
    FaultHttpServer faulty(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    std::vector<FaultHttpServer::Fault> plan(chunks + 2, FaultHttpServer::Fault::None);
    plan.push_back(FaultHttpServer::Fault::Stall);
    faulty.plan(plan);
    faulty.set_stall_seconds(15);
    settings(faulty.address(""));

    ScenarioResult r;
    std::thread person([&] {
        r =
            run("answer no\nclick 自动更新\nclick 图形按钮_下一步\nclick 图形按钮_下一步\n"
                "click 图形按钮_取消\n");
    });
    struct Joined {
        std::thread& thread;
        ~Joined() {
            if (thread.joinable())
                thread.join();
        }
    } joined{person};
    // The stalled request has come: the file's transfer waits.
    for (int i = 0; i < 900 && faulty.requests().size() <= plan.size() - 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const bool stalled = faulty.requests().size() >= plan.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const fs::path shot = fs::path(SOURCE_DIR) / "scripts" / "screenshot.sh";
    const fs::path before = scenario().folder() / "download.png";
    const fs::path after = scenario().folder() / "download-shown-again.png";
    auto picture = [&](const fs::path& out) {
        auto taken =
            test_support::run({"/bin/bash", shot.string(), out.string(), "在线升级"}, {display});
        if (taken.exit_code != 0)
            taken = test_support::run({"/bin/bash", shot.string(), out.string()}, {display});
        EXPECT_EQ(taken.exit_code, 0) << taken.err;
        // Its pixels, as a binary PPM beside it.
        auto plain =
            test_support::run({"/usr/bin/convert", out.string(), "-alpha", "off", "-depth", "8",
                               "ppm:" + fs::path(out).replace_extension(".ppm").string()},
                              {});
        EXPECT_EQ(plain.exit_code, 0) << plain.err;
    };
    if (stalled) {
        picture(before);
        // Another window over the whole wizard, then gone.
        const int cover = test_support::start(
            {"/usr/bin/display", "-size", "1600x1200", "xc:#FF00FF", "-geometry", "+0+0"},
            {display});
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        if (cover > 0) {
            kill(cover, SIGTERM);
            test_support::wait_for(cover, 10);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        picture(after);
    }
    person.join();
    ASSERT_TRUE(stalled) << r.transcript;
    EXPECT_TRUE(r.contains("unit-copy 画板_水晶进度条_2 画板_水晶进度条_2#1")) << r.transcript;

    // Each bar's first row starts at its scheme's first colours: the filled
    // part of the file's bar (#DFFBDF) and the empty parts (#E7F3E8).
    auto count = [](const test_support::Picture& p, test_support::Rgb c) {
        int n = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                const test_support::Rgb at = p.at(x, y);
                n += at.r == c.r && at.g == c.g && at.b == c.b;
            }
        return n;
    };
    // A binary PPM ("P6 width height 255", then RGB rows) as a picture.
    auto read_ppm = [](fs::path path) {
        test_support::Picture p;
        std::ifstream in(path.replace_extension(".ppm"), std::ios::binary);
        std::string magic;
        int depth = 0;
        if (!(in >> magic >> p.width >> p.height >> depth) || magic != "P6" || depth != 255)
            return test_support::Picture{};
        in.get();
        p.rgb.resize(static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 3);
        in.read(reinterpret_cast<char*>(p.rgb.data()), static_cast<std::streamsize>(p.rgb.size()));
        return in ? p : test_support::Picture{};
    };
    const test_support::Picture shown = read_ppm(before);
    const test_support::Picture again = read_ppm(after);
    ASSERT_GT(shown.width, 0);
    ASSERT_GT(again.width, 0);
    const test_support::Rgb filled{0xDF, 0xFB, 0xDF}, empty{0xE7, 0xF3, 0xE8};
    EXPECT_GT(count(shown, filled), 0);
    EXPECT_GT(count(shown, empty), 0);
    EXPECT_EQ(count(again, filled), count(shown, filled));
    EXPECT_EQ(count(again, empty), count(shown, empty));
    EXPECT_EQ(count(again, {0xFF, 0x00, 0xFF}), 0);
    if (const char* env = std::getenv("UPDATE_PICTURES")) {
        for (const fs::path& p : {before, after})
            fs::copy_file(p, fs::path(env) / ("updater-" + p.filename().string()),
                          fs::copy_options::overwrite_existing);
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, Update, ::testing::Values(System::linux_x64),
                         test_support::system_test_name);
INSTANTIATE_TEST_SUITE_P(Systems, UpdateEverywhere, test_support::both_systems(),
                         test_support::system_test_name);
INSTANTIATE_TEST_SUITE_P(Systems, UpdateOnRealWindows, ::testing::Values(System::win_x64_windows),
                         test_support::system_test_name);

}  // namespace
