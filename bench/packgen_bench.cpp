// The package generator on a large release: 20,000 files of mixed sizes
// (about 1 GB, half of them compressible), made once in the build folder.
// Measures, in one run:
//   start       the program started and closed (the loader's warm start)
//   analysis    choosing the release folder: its first-release analysis,
//               and again after the generation, every file compared with
//               the manifest
//   generation  the first release generated (every file packed), analysis
//               and start taken off
//   zip -q      Info-ZIP packing the same files one archive each, as the
//               operator's shell would
// Usage: packgen_bench [files] (default 20000)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const fs::path kWork = BENCH_WORK_DIR;
const fs::path kProgram = BENCH_PACKGEN_PATH;

int run(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env) {
    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e)
        env_strings.emplace_back(*e);
    env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> args, env;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env_strings)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), env.data()) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uint64_t g_random = 88172645463325252ull;
uint64_t next_random() {
    g_random ^= g_random << 13;
    g_random ^= g_random >> 7;
    g_random ^= g_random << 17;
    return g_random;
}

// Names the sizes below: a release made with other sizes is made again.
constexpr char kSizeScheme[] = "sizes-2";

// Sizes: most files small, some medium, a few large; about 1 GB for 20,000.
size_t size_of(int i) {
    const int kind = i % 100;
    if (kind < 80)
        return 4096 + next_random() % 24576;
    if (kind < 99)
        return 32768 + next_random() % 131072;
    return 1024 * 1024 + next_random() % (2 * 1024 * 1024);
}

// A letter and a number: "d3".
std::string numbered(char letter, int number) {
    std::string name(1, letter);
    name += std::to_string(number);
    return name;
}

void make_release(const fs::path& release, int files) {
    const fs::path done = release / ".complete";
    if (fs::exists(done)) {
        std::ifstream in(done);
        int count = 0;
        std::string scheme;
        in >> count >> scheme;
        if (count == files && scheme == kSizeScheme)
            return;
    }
    fs::remove_all(release);
    std::vector<char> buffer;
    uint64_t total = 0;
    for (int i = 0; i < files; ++i) {
        // 100 folders of two levels, 200 files each for 20,000.
        const fs::path folder = release / numbered('d', i % 10) / numbered('s', (i / 10) % 10);
        if (i < 100)
            fs::create_directories(folder);
        const size_t size = size_of(i);
        buffer.resize(size);
        if (i % 2 == 0) {
            for (size_t at = 0; at < size; at += 8) {
                const uint64_t r = next_random();
                std::memcpy(buffer.data() + at, &r, std::min<size_t>(8, size - at));
            }
        } else {
            for (size_t at = 0; at < size; ++at)
                buffer[at] = "the quick brown fox jumps over the lazy dog\r\n"[(at + i) % 45];
        }
        std::ofstream out(folder / (numbered('f', i) += ".dat"), std::ios::binary);
        out.write(buffer.data(), static_cast<std::streamsize>(size));
        total += size;
    }
    std::ofstream(done) << files << " " << kSizeScheme;
    std::printf("made the release: %d files, %.0f MB\n", files, total / 1048576.0);
    std::fflush(stdout);
}

double seconds_of(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    const auto start = Clock::now();
    const int code = run(argv, env);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (code != 0)
        std::fprintf(stderr, "%s ended with %d\n", argv[0].c_str(), code);
    return seconds;
}

double packgen(const std::string& script) {
    const fs::path file = kWork / "script";
    std::ofstream(file) << script;
    return seconds_of({(kWork / "program" / "packgen").string()},
                      {"TMPDIR=" + (kWork / "tmp").string(), "WJRT_SCRIPT=" + file.string()});
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
    const fs::path release = kWork / "release";
    fs::create_directories(kWork / "tmp");
    fs::create_directories(kWork / "program");
    fs::copy_file(kProgram, kWork / "program" / "packgen", fs::copy_options::overwrite_existing);
    make_release(release, files);
    fs::remove_all(release / "上传到服务器的更新文件");
    fs::remove(release / "up.dat");
    fs::remove(release / "更新说明.TXT");

    const std::string choose =
        "click 图形按钮_程序目录选择\nchoose-folder " + release.string() + "\n";
    packgen("close\n");  // the runtime folder, once
    const double start = packgen("close\n");
    packgen(choose + "close\n");  // file system caches warm
    const double analysis = packgen(choose + "close\n");
    const double whole = packgen(choose +
                                 "type 编辑框_本次版本号 \"1.0\"\nclick 图形按钮_生成更新文件\n"
                                 "answer ok\nclose\n");

    // The next analysis compares every file with the manifest just written.
    packgen(choose + "close\n");
    const double compared = packgen(choose + "close\n");

    const fs::path zipped = kWork / "zip";
    fs::remove_all(zipped);
    fs::create_directories(zipped);
    const auto zip_start = Clock::now();
    for (const auto& entry : fs::recursive_directory_iterator(release)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".dat")
            continue;
        run({"/usr/bin/zip", "-q", "-j",
             (zipped / (entry.path().filename().string() + ".zip")).string(),
             entry.path().string()},
            {});
    }
    const double zip = std::chrono::duration<double>(Clock::now() - zip_start).count();

    std::printf("packgen on %d files (2 cores shared; times of whole runs, seconds)\n", files);
    std::printf("  start and close            %8.2f\n", start);
    std::printf("  analysis (warm)            %8.2f   (run %.2f - start)\n", analysis - start,
                analysis);
    std::printf("  analysis with a baseline   %8.2f   (run %.2f - start)\n", compared - start,
                compared);
    std::printf("  generation                 %8.2f   (run %.2f - analysis run)\n",
                whole - analysis, whole);
    std::printf("  zip -q, one archive each   %8.2f\n", zip);
    std::printf("  generation / zip           %8.2f\n", (whole - analysis) / zip);
    return 0;
}
