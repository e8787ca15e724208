// The client folder on a small file system that runs full while the
// updater downloads, while it unpacks, and while it replaces: each ends on
// the error panel with the reason (the file named), the installed files
// and "up.dat" byte for byte as before, and once there is room again the
// next run installs the release.
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "tests/reliability/update_fixture.h"

namespace reliability {
namespace {

constexpr int64_t kMiB = 1 << 20;

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

int64_t free_bytes(const fs::path& folder) {
    struct statvfs st {};
    if (statvfs(folder.c_str(), &st) != 0)
        return -1;
    return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

class FullDisk : public UpdateFixture {
  protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        mount_point_ = run_->folder() / "client";
        fs::create_directories(mount_point_);
        // Room for the updater (the sanitized build is large) and the cases.
        const int64_t size =
            static_cast<int64_t>(fs::file_size(fs::path(NATIVE_BUILD_DIR) / "updater" / "update")) +
            16 * kMiB;
        const std::string options = "size=" + std::to_string(size) + ",mode=0755";
        if (mount("tmpfs", mount_point_.c_str(), "tmpfs", 0, options.c_str()) != 0)
            GTEST_SKIP() << "cannot mount a small file system for the client folder: "
                         << std::strerror(errno);
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_)
            umount2(mount_point_.c_str(), MNT_DETACH);
    }

    fs::path mount_point_;
    bool mounted_ = false;
};

// The release changes one large file; `free` is the room left before the
// update starts.
struct Case {
    const char* phase;
    std::string new_content;
    int64_t free;
    const char* reason;  // what the error panel names
};

TEST_F(FullDisk, AFullDiskChangesNothingAndTheNextRunInstalls) {
    const std::string old_big = random_bytes(kMiB, 1);
    const std::vector<Case> cases = {
        // The archive cannot be had whole.
        {"download", random_bytes(2 * kMiB, 2), kMiB, "    下载更新文件 'big.dat' 时出错"},
        // A small archive that unpacks to more than the room left.
        {"unpacking", std::string(4 * kMiB, 'z'), kMiB, "    解压更新文件 'big.dat' 时出错"},
        // Archive and unpacked file fit (about 1 MiB), keeping the old
        // content aside and the new copy does not.
        {"replacement", random_bytes(kMiB / 2, 3), 3 * kMiB / 2, "    替换文件 'big.dat' 时出错"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phase);
        const fs::path client = mount_point_ / c.phase;
        fs::create_directories(client);
        prepare(client);
        const std::vector<ReleaseFile> old_release = {
            {"a.txt", "\\a.txt", "alpha", kOld},
            {"big.dat", "\\Data\\big.dat", old_big, kOld},
        };
        install(old_release);
        const std::vector<ReleaseFile> release = {
            {"a.txt", "\\a.txt", "alpha 2", kNew},
            {"big.dat", "\\Data\\big.dat", c.new_content, kNew},
            {"n.txt", "\\New\\n.txt", "new", kNew},
        };
        fs::remove_all(server_ / "updates");
        const std::string manifest = publish_all(server_ / "updates", release, "2.0");
        const auto before = snapshot(client);

        const fs::path fill = mount_point_ / "fill";
        const int64_t room = free_bytes(mount_point_);
        ASSERT_GT(room, c.free);
        write_all(fill, std::string(static_cast<size_t>(room - c.free), 'f'));
        test_support::ScenarioResult r = run_to_end();
        EXPECT_TRUE(r.contains("unit-text 编辑框_出错提示 \"" + std::string(c.reason)))
            << r.transcript;
        EXPECT_FALSE(r.contains(kCompleted)) << r.transcript;
        EXPECT_EQ(snapshot(client), before);

        fs::remove(fill);
        r = run_to_end();
        EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
        for (const ReleaseFile& f : release)
            EXPECT_EQ(read_all(target(f)), f.content) << f.path;
        EXPECT_EQ(read_all(client / "up.dat"), manifest);
        fs::remove_all(client);
    }
}

}  // namespace
}  // namespace reliability
