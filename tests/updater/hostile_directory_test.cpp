// The updater against an update directory that an attacker wrote: listed
// names and paths that climb out, are absolute, name a drive, a share or a
// device, or lead into the work folder refuse the whole update, naming the
// entry, before any file archive is asked for; nothing is written outside
// the client folder (a canary folder beside it stays as it was) and the
// installation stays byte for byte. Names that only look like devices
// still install. A manifest of 100,000 sections is listed whole, and size
// texts beyond 32 bits or that are no number are shown as they are and the
// update still installs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scenario.h"
#include "tests/updater/update_fixture.h"

namespace {

using namespace update_test;
using test_support::ScenarioResult;
using test_support::transcript_escaped;
using test_support::u8path;

class UpdateFromAHostileDirectory : public Update {
  protected:
    void SetUp() override {
        Update::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        canary_ = scenario().folder() / "canary";
        write_all(canary_ / "keep.txt", "untouched");
    }

    // Nothing named like the attacker's files anywhere around the client
    // folder, and the canary folder as it was.
    void expect_nothing_outside() {
        EXPECT_EQ(snapshot(canary_),
                  (std::map<std::string, std::string>{{"keep.txt", "untouched"}}));
        for (const auto& entry : fs::recursive_directory_iterator(
                 scenario().folder(), fs::directory_options::skip_permission_denied)) {
            const std::string name = entry.path().filename().string();
            EXPECT_NE(name.rfind("evil", 0), 0u) << entry.path();
        }
    }

    fs::path canary_;
};

// Names that would leave a folder, or open something other than a file,
// refuse the whole update before any file archive is asked for.
TEST_P(UpdateFromAHostileDirectory, UnsafeNamesRefuseTheUpdateBeforeAnyDownload) {
    // The canary as an absolute path, with either separator.
    std::string absolute = (canary_ / "evil.txt").string();
    std::string absolute_back = absolute;
    for (char& c : absolute_back)
        if (c == '/')
            c = '\\';
    const std::vector<std::pair<std::string, std::string>> cases = {
        // Climbing out.
        {"evil.txt", "\\..\\evil.txt"},
        {"evil.txt", "\\..\\canary\\evil.txt"},
        {"evil.txt", "\\Data\\..\\..\\canary\\evil.txt"},
        {"evil.txt", "\\..//canary/evil.txt"},
        {"evil.txt", "\\Data/../../canary/evil.txt"},
        {"..\\evil.txt", "\\..\\evil.txt"},
        {"../evil.txt", "\\../evil.txt"},
        {"..", "\\.."},
        {".", "\\."},
        // Not below the client folder's root.
        {"evil.txt", "evil.txt"},
        {"x", "/etc/x"},
        {"evil.txt", absolute},
        {"evil.txt", "\\" + absolute_back},
        {"evil.txt", "\\\\host\\share\\evil.txt"},
        {"evil.txt", "\\..\\"},
        // Drives.
        {"evil.txt", "\\C:\\evil.txt"},
        {"evil.txt", "C:\\evil.txt"},
        {"C:", "\\C:"},
        {"C:evil.txt", "\\C:evil.txt"},
        {"evil.txt", "\\a.txt:evil.txt"},
        // Devices, as names and as folders, in any case, before a dot, with
        // blanks or a final dot.
        {"CON", "\\CON"},
        {"NUL", "\\NUL"},
        {"AUX", "\\AUX"},
        {"PRN", "\\PRN"},
        {"COM1", "\\COM1"},
        {"lpt1", "\\lpt1"},
        {"LPT9", "\\Data\\LPT9"},
        {"CONOUT$", "\\CONOUT$"},
        {"nul.txt", "\\nul.txt"},
        {"Com1.tar.gz", "\\Com1.tar.gz"},
        {"NUL .txt", "\\NUL .txt"},
        {"nul.", "\\nul."},
        {"evil.txt", "\\con \\evil.txt"},
        {"evil.txt", "\\CON\\evil.txt"},
        {"evil.txt", "\\aux.d\\evil.txt"},
        // The work folder, a name that is not the path's last part, a final
        // dot, the manifest itself.
        {"evil.txt", "\\update\\evil.txt"},
        {"evil.txt", "\\UPDATE\\evil.txt"},
        {"evil.txt", "\\Data\\other.txt"},
        {"evil.txt", "\\Data.\\evil.txt"},
        {"up.dat", "\\up.dat"},
    };
    std::vector<ReleaseFile> files = release_one();
    install(files);
    const auto before = snapshot(install_);
    for (const auto& [name, path] : cases) {
        SCOPED_TRACE(name + " at " + path);
        std::vector<ReleaseFile> published = files;
        published[0].time = kNew;
        published.push_back({name, path, "evil", kNew});
        publish(server_ / "updates", published, {"a.txt"}, "2.0");
        const size_t requests = web_->requests().size();
        ScenarioResult r = run(script(1));
        EXPECT_TRUE(r.contains("unit-text 编辑框_出错提示 \"    更新列表中的文件 '" +
                               transcript_escaped(name) +
                               "' 的名称或路径不安全，已停止本次更新！\""))
            << r.transcript;
        EXPECT_FALSE(r.contains("unit-visible 图片框_更新列表 1")) << r.transcript;
        const auto requests_now = web_->requests();
        for (size_t i = requests; i < requests_now.size(); ++i)
            EXPECT_EQ(requests_now[i].uri.find(".txt.zip"), std::string::npos)
                << requests_now[i].uri;
        EXPECT_EQ(snapshot(install_), before);
    }
    expect_nothing_outside();
}

// The device check goes by the whole name before its first dot, no further.
TEST_P(UpdateFromAHostileDirectory, NamesThatOnlyLookLikeDevicesInstall) {
    const std::vector<ReleaseFile> files = {
        {"console.txt", "\\console.txt", "1", kNew},      {"COM10.dat", "\\COM10.dat", "2", kNew},
        {"nul_x.txt", "\\nul_x.txt", "3", kNew},          {"x.con", "\\x.con", "4", kNew},
        {"a.txt", "\\Auxiliary\\PRNs\\a.txt", "5", kNew},
    };
    const std::string manifest =
        publish(server_ / "updates", files,
                {"console.txt", "COM10.dat", "nul_x.txt", "x.con", "a.txt"}, "2.0");
    ScenarioResult r = run(script(2));
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    for (const ReleaseFile& f : files)
        EXPECT_EQ(read_all(install_ / u8path(relative_unix(f.path))), f.content) << f.name;
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
}

// A manifest of 100,000 sections (about 8 MB) is read, compared and listed
// whole.
TEST_P(UpdateFromAHostileDirectory, AHundredThousandSectionsAreListed) {
    constexpr int kCount = 100000;
    std::string text;
    text.reserve(kCount * 96);
    for (int i = 0; i < kCount; ++i) {
        const std::string name = "f" + std::to_string(i) + ".dat";
        text += "[" + name + "]\r\n文件名=" + name + "\r\n文件路径=\\Many\\" + name +
                "\r\n文件日期=2023-11-15 22:13:20\r\n文件尺寸=150\r\n";
    }
    text += "[版本]\r\n版本号=2.0\r\n";
    zip_of("up.dat", gbk(text), server_ / "updates" / "up.dat.zip");
    install(release_one());
    const auto before = snapshot(install_);

    ScenarioResult r = run(script(1, "close\n"));
    EXPECT_TRUE(
        r.contains("unit-text 标签_网络状态 \"升级到最新版本，需要更新以下 100000 个文件：\""))
        << r.transcript.substr(0, 4000);
    EXPECT_TRUE(r.contains("list-insert 列表框_更新文件 99999 \"f99999.dat\"")) << r.err;
    EXPECT_EQ(snapshot(install_), before);
}

// "文件尺寸" is only shown and summed: beyond 32 (or 64) bits, negative or
// no number at all, the list shows the text as it is and the update installs.
TEST_P(UpdateFromAHostileDirectory, SizeTextsBeyondRangeOrNotNumbersStillInstall) {
    const std::vector<std::string> sizes = {
        "4294967296", "99999999999999999999999999", "-5", "abc", "", " 12", "1e9"};
    std::vector<ReleaseFile> files;
    std::string text;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::string name = "s" + std::to_string(i) + ".txt";
        files.push_back({name, "\\" + name, "size " + sizes[i], kNew});
        zip_of(name, files.back().content, server_ / "updates" / (name + ".zip"));
        text += "[" + name + "]\r\n文件名=" + name + "\r\n文件路径=\\" + name +
                "\r\n文件日期=2023-11-15 22:13:20\r\n文件尺寸=" + sizes[i] + "\r\n";
    }
    text = gbk(text + "[版本]\r\n版本号=2.0\r\n");
    zip_of("up.dat", text, server_ / "updates" / "up.dat.zip");

    ScenarioResult r = run(script(2));
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    for (size_t i = 0; i < sizes.size(); ++i) {
        // Values lose their surrounding blanks, as profile values do.
        const std::string shown = sizes[i] == " 12" ? "12" : sizes[i];
        EXPECT_TRUE(
            r.contains("list-insert 列表框_文件大小 " + std::to_string(i) + " \"" + shown + "\""))
            << sizes[i] << r.transcript;
        EXPECT_EQ(read_all(install_ / files[i].name), files[i].content);
    }
    EXPECT_EQ(read_all(install_ / "up.dat"), text);
}

INSTANTIATE_TEST_SUITE_P(Systems, UpdateFromAHostileDirectory,
                         ::testing::Values(test_support::System::linux_x64),
                         test_support::system_test_name);

}  // namespace
