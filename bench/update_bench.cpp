// The updater (the release program, as "update.exe" in an installation
// folder) driven by scripts against nginx on loopback, its transcript read
// through a named pipe so that every line is timed as it is written:
//
//   update/download_phase   2,000 file archives, 200 MB in all: from the
//                           wizard's second Next (the guidance line hidden)
//                           to the replacement's text, so every download and
//                           every unpacking of the list
//   downloader/alone        the same archives fetched by the downloader
//                           alone: the download program, one transfer per
//                           click, process start to end, no transcript
//   reference/libcurl       the same archives fetched by raw libcurl in
//                           10240-byte ranged requests on one reused handle,
//                           each written to a file
//   update/archive_100MB,   one archive of 100 MB or 500 MB, the whole run:
//   update/archive_500MB    the process's peak memory (max RSS)
//   update/list_20000       process start to the list page, a 20,000-section
//                           manifest against an installed one of 20,000
//                           sections whose dates all differ
//   update/list_3           the same with 3 sections
//
// Goals: the download phase at least 0.8 x libcurl's rate, a peak of at most
// 64 MB whatever the archive's size, the list page within 1 s.
//
// The network probe's host name is answered by this process's own hosts
// file (a mount namespace of its own, a file bound over /etc/hosts), which
// the updater inherits. Without nginx, or without the namespace, the
// benchmark says so and ends with success.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/encoding.h"
#include "tests/support/nginx_server.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 2000;
constexpr size_t kFileBytes = 100000;  // 2,000 archives of a little more: 200 MB
constexpr size_t kChunk = 10240;
constexpr int kListSections = 20000;

constexpr char kProbeHost[] = "www.microsoft.com";
constexpr char kListShown[] = "unit-text 标签_指导操作 \"点击下一步进行更新。\"";
constexpr char kPhaseStart[] = "unit-visible 标签_指导操作 0";
constexpr char kPhaseEnd[] = "unit-text 标签_指导操作 \"正在替换更新文件，请稍等......\"";
constexpr char kCompleted[] = "您的产品及组件已经更新到最新状态。";

fs::path g_scratch;
std::string g_base;  // the server's address, ending in "/"
std::map<std::string, std::vector<double>> g_ms;
std::map<std::string, std::vector<double>> g_cpu_ms;
std::map<std::string, long> g_peak_kb;
// Archive names and sizes of the 2,000-file release.
std::vector<std::pair<std::string, size_t>> g_archives;

std::string gbk(const std::string& utf8) {
    return base::utf8_to_gbk(utf8).value();
}

void write_all(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// ---- archives ----

void put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
}
void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// One deflated entry, `name`, of `size` bytes that `fill` gives piece by
// piece (fill(offset, buffer) fills the buffer with the bytes from offset):
// the generator's one-entry archive. The benchmark's bytes do not shrink, so
// the archive is as large as its file; Huffman coding only, since matching
// would find nothing in them. Gives the archive's size.
template <typename Fill>
size_t write_zip(const fs::path& out, const std::string& name, size_t size, Fill fill) {
    constexpr uint32_t kDosTime = 0x0000, kDosDate = 0x576f;  // 2023-11-15
    std::string local;
    put32(local, 0x04034b50);
    put16(local, 20);
    put16(local, 0);  // flags
    put16(local, 8);  // deflated
    put16(local, kDosTime);
    put16(local, kDosDate);
    put32(local, 0);  // CRC and packed size, written when known
    put32(local, 0);
    put32(local, static_cast<uint32_t>(size));
    put16(local, static_cast<uint32_t>(name.size()));
    put16(local, 0);
    local += name;
    fs::create_directories(out.parent_path());
    std::FILE* file = std::fopen(out.c_str(), "wb");
    if (file == nullptr)
        std::exit(1);
    std::fwrite(local.data(), 1, local.size(), file);
    z_stream stream{};
    deflateInit2(&stream, 1, Z_DEFLATED, -15, 8, Z_HUFFMAN_ONLY);
    std::vector<char> buffer(1 << 20);
    std::vector<unsigned char> packed(deflateBound(&stream, buffer.size()));
    uLong crc = crc32(0, nullptr, 0);
    size_t packed_size = 0;
    for (size_t at = 0;;) {
        const size_t n = std::min(buffer.size(), size - at);
        fill(at, std::span<char>(buffer.data(), n));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(n));
        at += n;
        stream.next_in = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_in = static_cast<uInt>(n);
        const int flush = at == size ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = packed.data();
            stream.avail_out = static_cast<uInt>(packed.size());
            deflate(&stream, flush);
            const size_t have = packed.size() - stream.avail_out;
            std::fwrite(packed.data(), 1, have, file);
            packed_size += have;
        } while (stream.avail_out == 0);
        if (flush == Z_FINISH)
            break;
    }
    deflateEnd(&stream);
    std::string central;
    put32(central, 0x02014b50);
    put16(central, 20);
    put16(central, 20);
    put16(central, 0);
    put16(central, 8);
    put16(central, kDosTime);
    put16(central, kDosDate);
    put32(central, static_cast<uint32_t>(crc));
    put32(central, static_cast<uint32_t>(packed_size));
    put32(central, static_cast<uint32_t>(size));
    put16(central, static_cast<uint32_t>(name.size()));
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, 0);
    put32(central, 0);  // the local header's offset
    central += name;
    const size_t central_at = local.size() + packed_size;
    std::string end;
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, 1);
    put16(end, 1);
    put32(end, static_cast<uint32_t>(central.size()));
    put32(end, static_cast<uint32_t>(central_at));
    put16(end, 0);
    std::fwrite(central.data(), 1, central.size(), file);
    std::fwrite(end.data(), 1, end.size(), file);
    std::fseek(file, 14, SEEK_SET);
    std::string known;
    put32(known, static_cast<uint32_t>(crc));
    put32(known, static_cast<uint32_t>(packed_size));
    std::fwrite(known.data(), 1, known.size(), file);
    std::fclose(file);
    return central_at + central.size() + end.size();
}

// Bytes that differ from file to file and along each file.
void fill_pattern(uint64_t seed, size_t offset, std::span<char> out) {
    uint64_t x = seed * 0x9e3779b97f4a7c15ull + offset + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x);
    }
}

std::string write_text_zip(const fs::path& out, const std::string& name, const std::string& text) {
    write_zip(out, name, text.size(), [&](size_t at, std::span<char> buffer) {
        std::memcpy(buffer.data(), text.data() + at, buffer.size());
    });
    return text;
}

// A manifest in the generator's form (GBK, CR LF).
struct Section {
    std::string name;
    std::string date;
    size_t size = 0;  // 0: no "文件尺寸"
};
std::string manifest_of(const std::vector<Section>& sections, const std::string& version) {
    std::string text;
    for (const Section& s : sections) {
        text += "[" + s.name + "]\r\n文件名=" + s.name + "\r\n文件路径=\\" + s.name +
                "\r\n文件日期=" + s.date + "\r\n";
        if (s.size != 0)
            text += "文件尺寸=" + std::to_string(s.size) + "\r\n";
    }
    text += "[版本]\r\n版本号=" + version + "\r\n";
    return gbk(text);
}

std::string numbered(const char* prefix, int i) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%05d.bin", prefix, i);
    return name;
}

// ---- one updater run, its transcript timed ----

struct TimedLine {
    Clock::time_point at;
    std::string text;
};

struct Run {
    Clock::time_point started;
    std::vector<TimedLine> lines;
    long peak_kb = 0;   // max RSS
    double cpu_ms = 0;  // user and system time of the whole run
    bool ok = false;

    // Milliseconds from the start to the first line equal to `marker` (at
    // or after line `from`); -1 when there is none.
    double ms_to(const std::string& marker, size_t* index = nullptr, size_t from = 0) const {
        for (size_t i = from; i < lines.size(); ++i) {
            if (lines[i].text == marker) {
                if (index != nullptr)
                    *index = i;
                return std::chrono::duration<double, std::milli>(lines[i].at - started).count();
            }
        }
        return -1;
    }
    bool contains(const std::string& part) const {
        for (const TimedLine& line : lines)
            if (line.text.find(part) != std::string::npos)
                return true;
        return false;
    }
};

// A folder to install into: the program as "update.exe" (on Linux a
// program named "update" would stand where the work folder goes), the
// settings, the installed version "1.0".
struct Installation {
    fs::path folder;
    fs::path script;

    Installation(const std::string& name, const std::string& updates, const std::string& steps) {
        folder = g_scratch / name;
        fs::create_directories(folder);
        fs::copy_file(BENCH_UPDATE_PATH, folder / "update.exe",
                      fs::copy_options::overwrite_existing);
        write_all(folder / "ver.ini", "1.0");
        write_all(folder / "wow.ini",
                  "[s]\r\nsv=" + g_base + "version.txt\r\n[v]\r\nva=" + g_base + updates + "/\r\n");
        script = g_scratch / (name + ".script");
        write_all(script, steps);
    }

    // Back to the installed state: only the program, the settings and
    // `manifest` as "up.dat".
    void reset(const std::string& manifest) const {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename();
            if (name != "update.exe" && name != "ver.ini" && name != "wow.ini")
                fs::remove_all(entry.path());
        }
        write_all(folder / "up.dat", manifest);
    }

    Run run() const {
        Run result;
        const fs::path pipe = g_scratch / "transcript.pipe";
        fs::remove(pipe);
        if (mkfifo(pipe.c_str(), 0600) != 0)
            return result;
        // Read and write: the reader never sees an end while the program
        // opens and closes its end once per line. Read without blocking,
        // every millisecond: a reader that waits in read() would be woken,
        // and the program switched away from, at every line.
        const int fd = open(pipe.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        fcntl(fd, F_SETPIPE_SZ, 1 << 20);
        std::thread reader([&] {
            std::string pending;
            char buffer[65536];
            for (;;) {
                const ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                const Clock::time_point now = Clock::now();
                pending.append(buffer, static_cast<size_t>(n));
                size_t start = 0;
                for (size_t end; (end = pending.find('\n', start)) != std::string::npos;
                     start = end + 1) {
                    std::string line = pending.substr(start, end - start);
                    if (line == "\x01")
                        return;  // the end this benchmark writes
                    result.lines.push_back({now, std::move(line)});
                }
                pending.erase(0, start);
            }
        });

        std::vector<std::string> variables = {"WJRT_TRANSCRIPT=" + pipe.string(),
                                              "WJRT_SCRIPT=" + script.string()};
        std::vector<char*> env;
        for (char** e = environ; *e != nullptr; ++e)
            if (std::strncmp(*e, "WJRT_", 5) != 0)
                env.push_back(*e);
        for (std::string& v : variables)
            env.push_back(v.data());
        env.push_back(nullptr);
        const std::string program = (folder / "update.exe").string();
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        result.started = Clock::now();
        pid_t pid = -1;
        const bool spawned =
            posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, env.data()) == 0;
        posix_spawn_file_actions_destroy(&actions);
        // The peak from the process's own record, read until it ends: the
        // rusage of wait4 counts the spawning process's peak too, since the
        // child starts on its memory.
        std::atomic<bool> ended{false};
        std::thread sampler([&] {
            const std::string status_path = "/proc/" + std::to_string(pid) + "/status";
            while (spawned && !ended.load()) {
                std::ifstream in(status_path);
                for (std::string line; std::getline(in, line);)
                    if (line.rfind("VmHWM:", 0) == 0)
                        result.peak_kb = std::max(result.peak_kb, std::atol(line.c_str() + 6));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        int status = 0;
        rusage usage{};
        if (spawned) {
            // Waited for without reaping, so that its record stays readable to
            // the end.
            siginfo_t info{};
            waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
            ended = true;
            sampler.join();
            wait4(pid, &status, 0, &usage);
        } else {
            ended = true;
            sampler.join();
        }
        [[maybe_unused]] ssize_t written = write(fd, "\x01\n", 2);
        reader.join();
        close(fd);
        fs::remove(pipe);
        auto ms_of = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
        result.cpu_ms = ms_of(usage.ru_utime) + ms_of(usage.ru_stime);
        result.ok = spawned && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return result;
    }
};

void fail(benchmark::State& state, const Run& run, const char* what) {
    std::string tail;
    for (size_t i = run.lines.size() > 8 ? run.lines.size() - 8 : 0; i < run.lines.size(); ++i)
        tail += "  " + run.lines[i].text + "\n";
    std::fprintf(stderr, "%s; the transcript ends:\n%s", what, tail.c_str());
    state.SkipWithError(what);
}

const std::string kSteps =
    "answer yes\nclick 图形按钮_下一步\nclick 图形按钮_下一步\nclick 图形按钮_取消\n";
const std::string kListSteps = "answer yes\nclick 图形按钮_下一步\nclose\n";

// ---- the benchmarks ----

void download_phase(benchmark::State& state) {
    static const Installation installation("phase", "release", kSteps);
    static const std::string installed = manifest_of({}, "1.0");
    for (auto _ : state) {
        installation.reset(installed);
        const Run run = installation.run();
        size_t list = 0, start = 0;
        if (!run.ok || run.ms_to(kListShown, &list) < 0 || !run.contains(kCompleted)) {
            fail(state, run, "the update did not complete");
            return;
        }
        const double from = run.ms_to(kPhaseStart, &start, list + 1);
        const double to = run.ms_to(kPhaseEnd, nullptr, start);
        if (from < 0 || to < 0) {
            fail(state, run, "no download phase in the transcript");
            return;
        }
        state.SetIterationTime((to - from) / 1000);
        g_cpu_ms["update/download_phase"].push_back(run.cpu_ms);
        g_ms["update/download_phase"].push_back(to - from);
    }
    installation.reset(installed);
}

size_t to_file(char* data, size_t size, size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<std::FILE*>(file)) * size;
}

void libcurl(benchmark::State& state) {
    const fs::path out = g_scratch / "libcurl";
    CURL* easy = curl_easy_init();
    curl_slist* headers = nullptr;
    for (const char* header :
         {"Referer;", "Accept: */*", "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)",
          "Content-Type: application/octet-stream", "Pragma: no-cache", "Cache-Control: no-cache"})
        headers = curl_slist_append(headers, header);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &to_file);
    for (auto _ : state) {
        fs::remove_all(out);
        fs::create_directories(out);
        const Clock::time_point start = Clock::now();
        for (const auto& [name, size] : g_archives) {
            const std::string address = g_base + "release/" + name;
            std::FILE* file = std::fopen((out / name).c_str(), "wb");
            curl_easy_setopt(easy, CURLOPT_URL, address.c_str());
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, file);
            for (size_t from = 0; from < size; from += kChunk) {
                const std::string range =
                    std::to_string(from) + "-" + std::to_string(from + kChunk - 1);
                curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());
                long status = 0;
                if (curl_easy_perform(easy) != CURLE_OK ||
                    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
                    status != 206) {
                    state.SkipWithError("a ranged request failed");
                    break;
                }
            }
            std::fclose(file);
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(ms / 1000);
        g_ms["reference/libcurl"].push_back(ms);
    }
    fs::remove_all(out);
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
}

// The downloader alone: the download program (one transfer per click, the
// address and save path typed by its script) fetching the same archives,
// without a transcript, timed from its start to its end.
void downloader_alone(benchmark::State& state) {
    const fs::path out = g_scratch / "probe";
    const fs::path script = g_scratch / "probe.script";
    {
        std::ofstream steps(script);
        for (const auto& [name, size] : g_archives)
            steps << "type 编辑框_地址 \"" << g_base << "release/" << name << "\"\n"
                  << "type 编辑框_路径 \"" << (out / name).string() << "\"\n"
                  << "click 按钮_下载\n";
        steps << "close\n";
    }
    for (auto _ : state) {
        fs::remove_all(out);
        fs::create_directories(out);
        const std::string program = BENCH_DOWNLOAD_PROBE_PATH;
        std::vector<std::string> variables = {"WJRT_SCRIPT=" + script.string()};
        std::vector<char*> env;
        for (char** e = environ; *e != nullptr; ++e)
            if (std::strncmp(*e, "WJRT_", 5) != 0)
                env.push_back(*e);
        for (std::string& v : variables)
            env.push_back(v.data());
        env.push_back(nullptr);
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        const Clock::time_point start = Clock::now();
        pid_t pid = -1;
        int status = 0;
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, env.data()) == 0)
            waitpid(pid, &status, 0);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        bool complete = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        for (const auto& [name, size] : g_archives)
            complete = complete && fs::exists(out / name) && fs::file_size(out / name) == size;
        if (!complete) {
            state.SkipWithError("the download program did not fetch every archive");
            break;
        }
        state.SetIterationTime(ms / 1000);
        g_ms["downloader/alone"].push_back(ms);
    }
    fs::remove_all(out);
}

// One archive of `megabytes`, made for the run and removed after it.
void large_archive(benchmark::State& state, int megabytes) {
    const std::string key = "update/archive_" + std::to_string(megabytes) + "MB";
    const std::string updates = "large" + std::to_string(megabytes);
    const fs::path dir = g_scratch / "site" / updates;
    fs::create_directories(dir);
    const std::string name = "large.bin";
    const size_t archive_size =
        write_zip(dir / (name + ".zip"), name, static_cast<size_t>(megabytes) << 20,
                  [](size_t at, std::span<char> out) { fill_pattern(7, at, out); });
    write_text_zip(dir / "up.dat.zip", "up.dat",
                   manifest_of({{name, "2023-11-15 00:00:00", archive_size}}, "2.0"));
    const Installation installation(updates, updates, kSteps);
    const std::string installed = manifest_of({}, "1.0");
    for (auto _ : state) {
        installation.reset(installed);
        const Run run = installation.run();
        if (!run.ok || !run.contains(kCompleted) ||
            fs::file_size(installation.folder / name) != static_cast<size_t>(megabytes) << 20) {
            fail(state, run, "the update did not complete");
            break;
        }
        const double ms =
            std::chrono::duration<double, std::milli>(run.lines.back().at - run.started).count();
        state.SetIterationTime(ms / 1000);
        state.counters["max_rss_MB"] = static_cast<double>(run.peak_kb) / 1024;
        g_peak_kb[key] = std::max(g_peak_kb[key], run.peak_kb);
        g_ms[key].push_back(ms);
    }
    fs::remove_all(installation.folder);
    fs::remove_all(dir);
}

void list_page(benchmark::State& state, int sections) {
    const std::string key = "update/list_" + std::to_string(sections);
    const std::string updates = "list" + std::to_string(sections);
    std::vector<Section> remote, local;
    for (int i = 0; i < sections; ++i) {
        remote.push_back({numbered("n", i), "2023-11-15 00:00:00", 12345});
        local.push_back({numbered("n", i), "2023-11-14 00:00:00", 0});
    }
    write_text_zip(g_scratch / "site" / updates / "up.dat.zip", "up.dat",
                   manifest_of(remote, "2.0"));
    const Installation installation(updates, updates, kListSteps);
    const std::string installed = manifest_of(local, "1.0");
    const std::string count_line = "unit-text 标签_网络状态 \"升级到最新版本，需要更新以下 " +
                                   std::to_string(sections) + " 个文件：\"";
    for (auto _ : state) {
        installation.reset(installed);
        const Run run = installation.run();
        const double ms = run.ms_to(kListShown);
        if (!run.ok || ms < 0 || !run.contains(count_line)) {
            fail(state, run, "no list page");
            break;
        }
        state.SetIterationTime(ms / 1000);
        g_ms[key].push_back(ms);
        g_cpu_ms[key].push_back(run.cpu_ms);
    }
}

// ---- set-up ----

// Whether this process has its own /etc/hosts that names the probe's host.
bool own_hosts() {
    const fs::path hosts = g_scratch / "hosts";
    write_all(hosts, std::string("127.0.0.1 localhost\n127.0.0.1 ") + kProbeHost + "\n");
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0;
}

void publish_release() {
    const fs::path dir = g_scratch / "site" / "release";
    fs::create_directories(dir);
    std::vector<Section> sections;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = numbered("f", i);
        const size_t size =
            write_zip(dir / (name + ".zip"), name, kFileBytes, [i](size_t at, std::span<char> out) {
                fill_pattern(static_cast<uint64_t>(i), at, out);
            });
        g_archives.emplace_back(name + ".zip", size);
        sections.push_back({name, "2023-11-15 00:00:00", size});
    }
    write_text_zip(dir / "up.dat.zip", "up.dat", manifest_of(sections, "2.0"));
}

}  // namespace

int main(int argc, char** argv) {
    // On a memory file system where there is room: both the updater and
    // libcurl write what they fetch, and a disk that other work shares
    // would time that work's writes too.
    const char* tmp = std::getenv("TMPDIR");
    fs::path parent = tmp != nullptr ? tmp : "/tmp";
    struct statvfs shm {};
    if (statvfs("/dev/shm", &shm) == 0 &&
        static_cast<double>(shm.f_bavail) * static_cast<double>(shm.f_frsize) > 4e9)
        parent = "/dev/shm";
    g_scratch = parent / ("gs-update-bench-" + std::to_string(getpid()));
    fs::remove_all(g_scratch);
    fs::create_directories(g_scratch / "site");
    if (!test_support::NginxServer::installed()) {
        std::printf("update benchmark skipped: nginx is not installed\n");
        fs::remove_all(g_scratch);
        return 0;
    }
    if (!own_hosts()) {
        std::printf(
            "update benchmark skipped: no mount namespace of its own for the network "
            "probe's host name (run as root)\n");
        fs::remove_all(g_scratch);
        return 0;
    }
    write_all(g_scratch / "site" / "version.txt", "2.0");
    publish_release();
    int status = 0;
    {
        test_support::NginxServer server(g_scratch / "site");
        if (!server.running()) {
            std::fprintf(stderr, "nginx: %s\n", server.error().c_str());
            fs::remove_all(g_scratch);
            return 1;
        }
        g_base = server.address();
        // The runtime folder is unpacked below TMPDIR once, before timing.
        setenv("TMPDIR", g_scratch.c_str(), 1);
        {
            const Installation warm("warm", "list3", kListSteps);
            warm.run();
        }

        benchmark::RegisterBenchmark("update/download_phase", download_phase)
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(5)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("downloader/alone", downloader_alone)
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(5)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("reference/libcurl", libcurl)
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(5)
            ->Unit(benchmark::kMillisecond);
        for (int megabytes : {100, 500})
            benchmark::RegisterBenchmark(
                ("update/archive_" + std::to_string(megabytes) + "MB").c_str(),
                [megabytes](benchmark::State& state) { large_archive(state, megabytes); })
                ->UseManualTime()
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        for (int sections : {kListSections, 3})
            benchmark::RegisterBenchmark(
                ("update/list_" + std::to_string(sections)).c_str(),
                [sections](benchmark::State& state) { list_page(state, sections); })
                ->UseManualTime()
                ->Iterations(5)
                ->Unit(benchmark::kMillisecond);
        // Interleaved repetitions, so a machine busy with other work weighs
        // on the updater and on libcurl alike.
        std::vector<char*> arguments(argv, argv + argc);
        std::string interleave = "--benchmark_enable_random_interleaving=true";
        arguments.insert(arguments.begin() + 1, interleave.data());
        int count = static_cast<int>(arguments.size());
        benchmark::Initialize(&count, arguments.data());
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }

    double megabytes = 0;
    for (const auto& [name, size] : g_archives)
        megabytes += static_cast<double>(size) / 1e6;
    std::printf("\nupdater, local nginx, files below %s (medians)\n", parent.c_str());
    const double phase = median(g_ms["update/download_phase"]);
    const double raw = median(g_ms["reference/libcurl"]);
    if (phase > 0 && raw > 0) {
        const double ratio = raw / phase;
        std::printf(
            "  download phase, %d archives, %.0f MB      %8.0f ms  %6.1f MB/s  (whole run's CPU "
            "%.0f ms)\n",
            kFiles, megabytes, phase, megabytes * 1000 / phase,
            median(g_cpu_ms["update/download_phase"]));
        std::printf("  raw libcurl, the same ranged requests     %8.0f ms  %6.1f MB/s\n", raw,
                    megabytes * 1000 / raw);
        std::printf("  rate ratio %.3f (goal >= 0.8): %s\n", ratio,
                    ratio >= 0.8 ? "met" : "MISSED");
        const double alone = median(g_ms["downloader/alone"]);
        if (alone > 0)
            std::printf(
                "  the downloader alone (no unpacking, no wizard), start to end "
                "%8.0f ms  %6.1f MB/s, ratio %.3f\n",
                alone, megabytes * 1000 / alone, raw / alone);
    }
    for (int size : {100, 500}) {
        const std::string key = "update/archive_" + std::to_string(size) + "MB";
        if (g_peak_kb.count(key) != 0) {
            const double peak = static_cast<double>(g_peak_kb[key]) / 1024;
            std::printf(
                "  one %3d MB archive: max RSS %6.1f MB, run %6.0f ms (goal <= 64 MB): %s\n", size,
                peak, median(g_ms[key]), peak <= 64 ? "met" : "MISSED");
        }
    }
    const double list = median(g_ms["update/list_20000"]);
    const double small = median(g_ms["update/list_3"]);
    if (list > 0 && small > 0)
        std::printf(
            "  list page, %d sections %8.0f ms, CPU %.0f ms (3 sections %.0f ms, CPU %.0f ms; "
            "ratio %.2f) (goal <= 1000 ms): %s\n",
            kListSections, list, median(g_cpu_ms["update/list_20000"]), small,
            median(g_cpu_ms["update/list_3"]), list / small, list <= 1000 ? "met" : "MISSED");
    fs::remove_all(g_scratch);
    return status;
}
