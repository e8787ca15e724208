// The updater killed (SIGKILL) at 50 random moments of an update of 300
// files, spread over the downloads, the unpacking and the replacement:
// after every kill each installed file holds its old or its whole new
// content (never a part, never missing), a file new in the release is
// there whole or not at all, and "up.dat" is the old or the new manifest
// whole. The next start mends what a kill left, and after the 50 kills one
// complete run installs the release byte for byte, records its manifest and
// leaves no aside or temporary file behind.
//
// The moments: each kill aims at a phase. A download kill waits for the
// transcript to select a random row of the file list and then a random part
// of the time the previous row took (its download and unpacking); a
// replacement kill waits for the replacement's guide text and then a random
// part of the replacement's duration measured by a first complete run on a
// copy of the installation. RELIABILITY_SEED repeats a run's moments.
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <thread>

#include "tests/reliability/update_fixture.h"
#include "tests/support/test_support.h"

namespace reliability {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFiles = 300;
constexpr int kNewFiles = 20;  // of them, new in the release
constexpr int kKills = 50;
constexpr char kReplacing[] = "unit-text 标签_指导操作 \"正在替换更新文件，请稍等......\"";

constexpr char kRowSelected[] = "list-select 列表框_更新文件 ";

std::string row_selected(int row) {
    return kRowSelected + std::to_string(row) + "\n";
}

class KilledUpdate : public UpdateFixture {
  protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        disk_ = run_->folder() / "disk";
        fs::create_directories(disk_);
        // A kill keeps what the process wrote, so the file system need not
        // outlive it: tmpfs, where the runtime's syncs cost nothing, keeps
        // the 50 runs short. The test's own folder when it cannot be had.
        mounted_ = mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=256m,mode=0755") == 0;
        fs::create_directories(disk_ / "client");
        prepare(disk_ / "client");
    }
    void TearDown() override {
        if (mounted_)
            umount2(disk_.c_str(), MNT_DETACH);
    }

    // The process started on the script; its id.
    int start() {
        write_all(script(), kAnswerAndNexts);
        fs::remove(transcript());
        seen_ = searched_ = 0;
        seen_text_.clear();
        std::vector<std::string> environment = this->environment();
        // Short allocation stacks: the sanitizer's checks stay, and 50 runs
        // of 300 files fit in a few minutes.
        environment.push_back("ASAN_OPTIONS=malloc_context_size=2");
        return test_support::start(command(), environment, install_);
    }

    // Waits until the transcript holds `part` (looking only at what came
    // since the last wait) or the process ends; false when it ended first.
    bool wait_for_text(int pid, const std::string& part, int* status) {
        for (;;) {
            std::ifstream in(transcript(), std::ios::binary);
            in.seekg(static_cast<std::streamoff>(seen_));
            seen_text_.append(std::istreambuf_iterator<char>(in), {});
            const size_t at = seen_text_.find(part, searched_);
            if (at != std::string::npos) {
                searched_ = at + part.size();
                seen_ = seen_text_.size();
                return true;
            }
            searched_ = seen_text_.size() > part.size() ? seen_text_.size() - part.size() : 0;
            seen_ = seen_text_.size();
            if (waitpid(pid, status, WNOHANG) == pid)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    fs::path disk_;
    bool mounted_ = false;
    size_t seen_ = 0;        // bytes of the transcript read so far
    size_t searched_ = 0;    // where the next search starts
    std::string seen_text_;  // what was read
};

struct Timings {
    double download_phase = 0;  // seconds from row 0 to the replacement's text
    double replacement = 0;     // seconds from that text to the completed page
};

TEST_F(KilledUpdate, EveryFileIsOldOrNewWholeAfterEachKill) {
    unsigned seed = std::random_device{}();
    if (const char* given = std::getenv("RELIABILITY_SEED"))
        seed = static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    std::cout << "RELIABILITY_SEED=" << seed << std::endl;
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);

    // Small files of varied sizes in a few folders; the last ones new.
    std::vector<ReleaseFile> old_release;
    std::vector<ReleaseFile> release;
    std::uniform_int_distribution<int> size(0, 6000);
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i) + ".dat";
        const std::string folder = i >= kFiles - kNewFiles ? "\\New\\Sub\\"
                                   : i % 3 == 0            ? "\\"
                                                : "\\Data\\" + std::to_string(i % 4) + "\\";
        std::string old_content(static_cast<size_t>(size(random)), static_cast<char>('a' + i % 26));
        std::string new_content = "new " + std::to_string(i) + ":";
        while (new_content.size() < static_cast<size_t>(size(random)))
            new_content += static_cast<char>(random());
        if (i < kFiles - kNewFiles)
            old_release.push_back({name, folder + name, old_content, kOld});
        release.push_back({name, folder + name, new_content, kNew});
    }
    install(old_release);
    const std::string old_manifest = read_all(install_ / "up.dat");
    std::map<std::string, int64_t> archive_sizes;
    const std::string manifest = publish_all(server_ / "updates", release, "2.0", &archive_sizes);
    const auto before = snapshot(install_);
    auto restore = [&] {
        fs::remove_all(install_ / "update");
        fs::remove_all(install_ / "New");
        for (const auto& [name, content] : before) {
            if (name.back() != '/')
                write_all(install_ / test_support::u8path(name), content);
        }
        for (const ReleaseFile& f : old_release)
            test_support::set_last_write(target(f), f.time);
    };

    // A first complete run, on a copy, measures the phases.
    Timings timings;
    {
        const fs::path real = install_;
        const fs::path copy = disk_ / "measure";
        fs::copy(real, copy, fs::copy_options::recursive);
        install_.clear();
        program_.clear();
        prepare(copy);
        const int pid = start();
        int status = 0;
        ASSERT_TRUE(wait_for_text(pid, row_selected(0), &status));
        const auto rows = Clock::now();
        ASSERT_TRUE(wait_for_text(pid, kReplacing, &status));
        const auto replacing = Clock::now();
        ASSERT_TRUE(wait_for_text(pid, kCompleted, &status));
        const auto done = Clock::now();
        test_support::wait_for(pid, 60);
        timings.download_phase = std::chrono::duration<double>(replacing - rows).count();
        timings.replacement = std::chrono::duration<double>(done - replacing).count();
        std::cout << "download phase " << timings.download_phase << " s, replacement "
                  << timings.replacement << " s" << std::endl;
        fs::remove_all(copy);
        install_ = real;
        program_ = real / "update.exe";
    }

    // A third of the kills aim at the replacement, in a random order.
    std::vector<bool> at_replacement(kKills, false);
    for (int k = 0; k < kKills / 3; ++k)
        at_replacement[k] = true;
    std::shuffle(at_replacement.begin(), at_replacement.end(), random);

    std::map<std::string, int> landed;
    for (int k = 0; k < kKills; ++k) {
        SCOPED_TRACE("kill " + std::to_string(k));
        const int pid = start();
        int status = 0;
        bool running;
        int row = -1;
        if (at_replacement[k]) {
            running = wait_for_text(pid, kReplacing, &status);
            std::uniform_real_distribution<double> part(0, 0.9 * timings.replacement);
            if (running)
                std::this_thread::sleep_for(std::chrono::duration<double>(part(random)));
        } else {
            row = std::uniform_int_distribution<int>(0, kFiles - 1)(random);
            // The time one row takes, from the row before.
            running = wait_for_text(pid, row_selected(row > 0 ? row - 1 : 0), &status);
            const auto previous = Clock::now();
            running = running && wait_for_text(pid, row_selected(row), &status);
            const double took = row > 0
                                    ? std::chrono::duration<double>(Clock::now() - previous).count()
                                    : timings.download_phase / kFiles;
            if (running)
                std::this_thread::sleep_for(std::chrono::duration<double>(
                    std::uniform_real_distribution<double>(0, took)(random)));
        }
        const bool killed = running && waitpid(pid, &status, WNOHANG) == 0;
        if (killed) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        // What it was doing: the replacement's text shown, else the row's
        // archive whole (unpacking) or not (download).
        const std::string shown = read_all(transcript());
        std::string phase;
        if (!killed) {
            phase = "ended before the kill";
        } else if (shown.find(kReplacing) != std::string::npos) {
            phase = shown.find(kCompleted) != std::string::npos ? "completed page" : "replacement";
        } else {
            const size_t last = shown.rfind(kRowSelected);
            const int current = last == std::string::npos
                                    ? -1
                                    : std::atoi(shown.c_str() + last + sizeof kRowSelected - 1);
            if (current < 0) {
                phase = "list fetch";
            } else {
                const std::string& name = release[static_cast<size_t>(current)].name;
                const fs::path archive =
                    install_ / "update" / "temp" / test_support::u8path(name + ".zip");
                std::error_code error;
                phase = static_cast<int64_t>(fs::file_size(archive, error)) == archive_sizes[name]
                            ? "unpacking"
                            : "download";
            }
        }
        ++landed[phase];

        for (size_t i = 0; i < release.size(); ++i) {
            const fs::path path = target(release[i]);
            if (i < old_release.size()) {
                ASSERT_TRUE(fs::exists(path)) << release[i].path << " (" << phase << ")";
                const std::string content = read_all(path);
                ASSERT_TRUE(content == old_release[i].content || content == release[i].content)
                    << release[i].path << " holds a part (" << phase << ")";
            } else if (fs::exists(path)) {
                ASSERT_EQ(read_all(path), release[i].content)
                    << release[i].path << " (" << phase << ")";
            }
        }
        const std::string recorded = read_all(install_ / "up.dat");
        ASSERT_TRUE(recorded == old_manifest || recorded == manifest) << "up.dat (" << phase << ")";
        // A run that got to its end is taken back, so the next kill has
        // an update to cut short again.
        if (!killed || recorded == manifest)
            restore();
    }
    std::cout << "kills by phase:";
    for (const auto& [phase, count] : landed)
        std::cout << " " << phase << " " << count << ";";
    std::cout << std::endl;
    EXPECT_GT(landed["replacement"], 0);
    EXPECT_GT(landed["download"], 0);

    test_support::ScenarioResult r = run_to_end();
    EXPECT_TRUE(r.contains(kCompleted)) << r.transcript;
    for (const ReleaseFile& f : release)
        EXPECT_EQ(read_all(target(f)), f.content) << f.path;
    EXPECT_EQ(read_all(install_ / "up.dat"), manifest);
    EXPECT_FALSE(fs::exists(install_ / "update"));
    // Nothing of the kills stays: no aside, no temporary.
    for (const auto& entry : fs::recursive_directory_iterator(install_)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find(".update-old"), std::string::npos) << entry.path();
        EXPECT_NE(name.rfind(".wjrt-tmp-", 0), 0u) << entry.path();
    }
}

}  // namespace
}  // namespace reliability
