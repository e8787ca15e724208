// Start-up of whole programs, from process start to the kernel library's
// hand-off, for runtime packages of 1, 8 and 32 MiB:
//
//   startup/cold/N   the runtime folder is deleted before every run (the
//                    deletion is not timed), so the stub inflates the
//                    package and writes every runtime file
//   startup/warm/N   the runtime folder is present and its stamp valid
//   baseline/N       in this process: uncompress of the same zlib stream into
//                    a fresh buffer, then write + rename of the same files
//                    into an emptied folder
//   process_start/*  references started and waited for the same way:
//                    /bin/true, and the stub alone (it finds no package,
//                    says so on standard error and ends)
//
// Programs are the real stub with a small image and a package of the
// stand-in kernel library plus a filler file of pseudo-random bytes that
// deflate halves. The stand-in returns right after the hand-off, so the wall
// time from posix_spawn to the end of wait4 is the start-up. Each program is
// checked once before timing: its hand-off line, its runtime files and
// stamp, and a warm start that leaves the runtime files unread.
//
// Every benchmark is repeated (interleaved with the others, against drift on
// a shared machine) and the summary gives medians. Speeds are compared with
// the baseline of the same run only.
//
// Runtime folders and programs live in a fresh folder below $TMPDIR, which
// the programs get as their TMPDIR. Goals and the summary table: see
// startup_summary.h.
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/automation/transcript.h"
#include "bench/startup_summary.h"
#include "loader/assemble/attach.h"
#include "loader/package/format.h"
#include "loader/package/reader.h"
#include "loader/package/writer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kSizesMiB[] = {1, 8, 32};
constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kImageSize = 64 * 1024;
constexpr int kCompressionLevel = 9;  // the assembler's default
constexpr const char* kFillerName = "runtime-data.bin";
constexpr const char* kPeakRss = "peak_rss_MiB";

// Defaults, before the command line's own flags (the last one given wins).
const char* const kDefaultFlags[] = {
    "--benchmark_repetitions=7",
    "--benchmark_min_time=0.4",
    "--benchmark_enable_random_interleaving=true",
};

std::vector<uint8_t> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, std::span<const uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

bool read_fully(int fd, void* data, size_t size) {
    auto* at = static_cast<uint8_t*>(data);
    while (size > 0) {
        ssize_t got = read(fd, at, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool write_fully(int fd, const void* data, size_t size) {
    const auto* at = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t put = write(fd, at, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        at += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Starts programs and times them, from a small process forked before this
// one allocates its packages. The system reports a child's peak RSS as at
// least that of the process that started it, so the starter must stay small.
class Launcher {
  public:
    struct Result {
        bool ok = false;  // started and exited with code 0
        double seconds = 0;
        double peak_rss_mib = 0;
    };

    Launcher() {
        int requests[2], replies[2];
        if (pipe2(requests, O_CLOEXEC) != 0 || pipe2(replies, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ < 0)
            throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            close(requests[1]);
            close(replies[0]);
            serve(requests[0], replies[1]);
        }
        close(requests[0]);
        close(replies[1]);
        request_fd_ = requests[1];
        reply_fd_ = replies[0];
    }

    ~Launcher() {
        close(request_fd_);
        close(reply_fd_);
        int status = 0;
        waitpid(pid_, &status, 0);
    }

    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // Runs `program` without arguments, standard input from /dev/null and its
    // output appended to the given files (empty: /dev/null).
    Result run(const fs::path& program, const fs::path& out_path = {},
               const fs::path& err_path = {}) {
        Request request{};
        if (!copy_path(request.program, program) || !copy_path(request.out_path, out_path) ||
            !copy_path(request.err_path, err_path))
            throw std::runtime_error("path too long: " + program.string());
        Reply reply{};
        if (!write_fully(request_fd_, &request, sizeof request) ||
            !read_fully(reply_fd_, &reply, sizeof reply))
            throw std::runtime_error("the launcher process is gone");
        return {reply.started && reply.exit_code == 0, reply.seconds,
                static_cast<double>(reply.max_rss_kib) / 1024.0};
    }

  private:
    struct Request {
        char program[PATH_MAX];
        char out_path[PATH_MAX];
        char err_path[PATH_MAX];
    };
    struct Reply {
        bool started;
        int exit_code;  // -1 when killed by a signal
        double seconds;
        long max_rss_kib;
    };

    static bool copy_path(char (&to)[PATH_MAX], const fs::path& path) {
        const std::string& text = path.native();
        if (text.size() >= PATH_MAX)
            return false;
        std::memcpy(to, text.c_str(), text.size() + 1);
        return true;
    }

    [[noreturn]] static void serve(int request_fd, int reply_fd) {
        Request request;
        while (read_fully(request_fd, &request, sizeof request)) {
            auto open_output = [](const char* path) {
                return open(path[0] != '\0' ? path : "/dev/null",
                            O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            };
            int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
            int out = open_output(request.out_path);
            int err = open_output(request.err_path);
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_adddup2(&actions, in, 0);
            posix_spawn_file_actions_adddup2(&actions, out, 1);
            posix_spawn_file_actions_adddup2(&actions, err, 2);
            char* argv[] = {request.program, nullptr};

            Reply reply{};
            auto start = std::chrono::steady_clock::now();
            pid_t pid = -1;
            if (in >= 0 && out >= 0 && err >= 0 &&
                posix_spawn(&pid, request.program, &actions, nullptr, argv, environ) == 0) {
                int status = 0;
                struct rusage usage {};
                while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
                }
                reply.seconds = seconds_since(start);
                reply.started = true;
                reply.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                reply.max_rss_kib = usage.ru_maxrss;
            }
            posix_spawn_file_actions_destroy(&actions);
            for (int fd : {in, out, err}) {
                if (fd >= 0)
                    close(fd);
            }
            if (!write_fully(reply_fd, &reply, sizeof reply))
                break;
        }
        _exit(0);
    }

    pid_t pid_ = -1;
    int request_fd_ = -1;
    int reply_fd_ = -1;
};

// Deterministic bytes of which deflate can replace about half by references:
// 64-byte chunks that are either fresh pseudo-random bytes or a copy of an
// earlier chunk up to 16 KiB back.
std::vector<uint8_t> filler_bytes(size_t size, uint64_t seed) {
    std::vector<uint8_t> bytes(size);
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    constexpr size_t kChunk = 64;
    for (size_t at = 0; at < size; at += kChunk) {
        const size_t length = std::min(kChunk, size - at);
        const uint64_t choice = next();
        const size_t distance = kChunk * (1 + (choice >> 8) % 256);
        if ((choice & 1) == 0 && at >= distance) {
            std::memcpy(bytes.data() + at, bytes.data() + at - distance, length);
            continue;
        }
        for (size_t i = 0; i < length; i += 8) {
            const uint64_t random = next();
            std::memcpy(bytes.data() + at + i, &random, std::min<size_t>(8, length - i));
        }
    }
    return bytes;
}

struct FileStamp {
    uint64_t inode = 0;
    int64_t modified_ns = 0;
    bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> stamp_of(const fs::path& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileStamp{static_cast<uint64_t>(st.st_ino),
                     static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// One program and what the baseline needs of its package.
struct StartupCase {
    int mib = 0;
    fs::path program;
    fs::path runtime_folder;      // where the stub unpacks, below TMPDIR
    fs::path baseline_folder;     // where the baseline writes
    std::vector<uint8_t> stream;  // the package's zlib stream, unscrambled
    size_t unpacked_size = 0;
    size_t package_size = 0;
    size_t filler_size = 0;
};

StartupCase make_case(int mib, std::span<const uint8_t> stub, std::span<const uint8_t> kernel,
                      const fs::path& scratch) {
    const std::string kernel_name = loader::kKernelLibraryNames[0];
    const size_t entry_overhead = kernel_name.size() + 5 + std::strlen(kFillerName) + 5;
    const size_t total = static_cast<size_t>(mib) * kMiB;
    if (kernel.size() + entry_overhead >= total)
        throw std::runtime_error("the stand-in kernel does not fit in the package size");

    std::vector<loader::RuntimeFile> files;
    files.push_back({kernel_name, std::vector<uint8_t>(kernel.begin(), kernel.end())});
    files.push_back({kFillerName, filler_bytes(total - kernel.size() - entry_overhead,
                                               static_cast<uint64_t>(mib))});

    StartupCase c;
    c.mib = mib;
    c.filler_size = files.back().content.size();
    const std::string folder_name = "startup-" + std::to_string(mib) + "MiB";
    c.runtime_folder = scratch / folder_name;
    c.baseline_folder = scratch / ("baseline-" + std::to_string(mib) + "MiB");
    c.program = scratch / "programs" / folder_name;

    const std::vector<uint8_t> list = loader::encode_file_list(files);
    loader::PackageFields fields = loader::default_package_fields();
    fields.folder_number = loader::content_folder_number(files);
    fields.folder_name = folder_name;
    // Number and key as the assembler derives them.
    fields.scramble_key =
        ((fields.folder_number << 13) | (fields.folder_number >> 19)) ^ 0x9E3779B9u;
    fields.unpacked_size = static_cast<uint32_t>(list.size());
    fields.stream = loader::zlib_compress(list, kCompressionLevel);
    c.unpacked_size = list.size();
    c.stream = fields.stream;
    const std::vector<uint8_t> package = loader::build_package(fields);
    c.package_size = package.size();

    std::vector<uint8_t> image(kImageSize);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    image[0] = 'W';
    image[1] = 'J';
    auto program = loader::attach_image(stub, image);
    if (program.is_error())
        throw std::runtime_error(program.error());
    loader::append_package(program.value(), package);
    fs::create_directories(c.program.parent_path());
    write_file(c.program, program.value());
    fs::permissions(c.program, fs::perms::owner_all);
    return c;
}

// A fresh anonymous mapping, as a new process's malloc gives for a buffer of
// this size: its pages are faulted in on first touch. (Reused heap memory would
// spare the baseline the page faults that every start pays.)
class FreshBuffer {
  public:
    explicit FreshBuffer(size_t size) : size_(size) {
        void* at = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        data_ = at == MAP_FAILED ? nullptr : static_cast<uint8_t*>(at);
    }
    ~FreshBuffer() {
        if (data_ != nullptr)
            munmap(data_, size_);
    }
    FreshBuffer(const FreshBuffer&) = delete;
    FreshBuffer& operator=(const FreshBuffer&) = delete;
    uint8_t* get() const { return data_; }

  private:
    size_t size_;
    uint8_t* data_;
};

// The baseline: what any unpacker has to do at the least.
bool baseline_unpack(const StartupCase& c) {
    if (mkdir(c.baseline_folder.c_str(), 0700) != 0)
        return false;
    FreshBuffer out(c.unpacked_size);
    if (out.get() == nullptr)
        return false;
    uLongf produced = static_cast<uLongf>(c.unpacked_size);
    uLong consumed = static_cast<uLong>(c.stream.size());
    if (uncompress2(out.get(), &produced, c.stream.data(), &consumed) != Z_OK)
        return false;
    auto files = loader::parse_file_list({out.get(), produced});
    if (files.is_error())
        return false;
    int index = 0;
    for (const loader::RuntimeFileView& file : files.value()) {
        const fs::path target = c.baseline_folder / std::string(file.name);
        const fs::path temporary = c.baseline_folder / (".tmp-" + std::to_string(index++));
        int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
        if (fd < 0)
            return false;
        bool written = write_fully(fd, file.content.data(), file.content.size());
        written = close(fd) == 0 && written;
        if (!written || rename(temporary.c_str(), target.c_str()) != 0)
            return false;
    }
    return true;
}

// Everything a benchmark needs; lives for the whole run.
struct Context {
    Launcher* launcher = nullptr;
    fs::path errors;  // the programs' standard error, all runs appended
};

uintmax_t size_or_zero(const fs::path& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// What the programs wrote to standard error since the log held `since` bytes.
std::string new_error_output(const fs::path& errors, uintmax_t since) {
    if (size_or_zero(errors) <= since)
        return {};
    const std::vector<uint8_t> bytes = read_file(errors);
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(since), bytes.end())
        .substr(0, 200);
}

// A reference start: a program that does nothing, or the stub alone, which
// finds no package, reports that on standard error and ends.
void process_start(benchmark::State& state, const Context& context, const fs::path& program,
                   bool complains) {
    const uintmax_t errors_before = size_or_zero(context.errors);
    double peak = 0;
    for (auto _ : state) {
        auto result = context.launcher->run(program, {}, complains ? fs::path() : context.errors);
        if (!result.ok) {
            state.SkipWithError("the program failed");
            break;
        }
        state.SetIterationTime(result.seconds);
        peak = std::max(peak, result.peak_rss_mib);
    }
    if (!new_error_output(context.errors, errors_before).empty())
        state.SkipWithError("the program wrote to standard error");
    state.counters[kPeakRss] = peak;
}

void startup(benchmark::State& state, const Context& context, const StartupCase& c, bool cold) {
    const uintmax_t errors_before = size_or_zero(context.errors);
    const fs::path filler = c.runtime_folder / kFillerName;
    std::optional<FileStamp> filled;
    if (!cold) {
        // The cold runs of the same size may have left the folder empty.
        if (!context.launcher->run(c.program, {}, context.errors).ok ||
            !(filled = stamp_of(filler)))
            state.SkipWithError("the program did not fill its runtime folder");
    }
    double peak = 0;
    for (auto _ : state) {
        if (cold)
            fs::remove_all(c.runtime_folder);  // not timed: the time is the launcher's
        auto result = context.launcher->run(c.program, {}, context.errors);
        if (!result.ok) {
            state.SkipWithError("the program failed");
            break;
        }
        state.SetIterationTime(result.seconds);
        peak = std::max(peak, result.peak_rss_mib);
    }
    if (std::string text = new_error_output(context.errors, errors_before); !text.empty())
        state.SkipWithError(("the program reported: " + text).c_str());
    else if (!cold && filled && stamp_of(filler) != filled)
        state.SkipWithError("a warm start wrote the runtime files again");
    state.counters[kPeakRss] = peak;
}

void baseline(benchmark::State& state, const StartupCase& c) {
    for (auto _ : state) {
        fs::remove_all(c.baseline_folder);  // not timed
        auto start = std::chrono::steady_clock::now();
        const bool ok = baseline_unpack(c);
        const double seconds = seconds_since(start);
        if (!ok) {
            state.SkipWithError("the baseline unpacking failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// One cold and one warm start of the program, checked: the hand-off line,
// nothing on standard error, the runtime files and stamp written, and the
// warm start leaving the runtime files unread.
void check_case(const Context& context, const StartupCase& c, const fs::path& scratch) {
    const fs::path out = scratch / "check.out";
    const fs::path filler = c.runtime_folder / kFillerName;
    const uintmax_t errors_before = size_or_zero(context.errors);
    auto fail = [&](const std::string& what) {
        throw std::runtime_error(c.program.filename().string() + ": " + what);
    };
    fs::remove_all(c.runtime_folder);
    fs::remove(out);

    if (!context.launcher->run(c.program, out, context.errors).ok)
        fail("the cold start failed");
    if (size_or_zero(filler) != c.filler_size)
        fail("the cold start did not write the runtime files");
    bool stamped = false;
    for (const auto& entry : fs::directory_iterator(c.runtime_folder))
        stamped = stamped || entry.path().filename().string().starts_with(".loader-stamp-");
    if (!stamped)
        fail("the cold start wrote no warm-start stamp");

    // Change a byte of the filler in place and give the file back its
    // last-write time: a warm start never looks inside, an unpacking start
    // would put the byte back.
    struct stat st;
    if (stat(filler.c_str(), &st) != 0)
        fail("cannot inspect the runtime files");
    int fd = open(filler.c_str(), O_RDWR | O_CLOEXEC);
    uint8_t byte = 0;
    bool changed = fd >= 0 && pread(fd, &byte, 1, 0) == 1;
    byte ^= 0xFF;
    changed = changed && pwrite(fd, &byte, 1, 0) == 1;
    if (fd >= 0)
        close(fd);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (!changed || utimensat(AT_FDCWD, filler.c_str(), times, 0) != 0)
        fail("cannot prepare the warm-start check");

    if (!context.launcher->run(c.program, out, context.errors).ok)
        fail("the warm start failed");
    const std::vector<uint8_t> now = read_file(filler);
    if (now.empty() || now[0] != byte)
        fail("the warm start unpacked the runtime again");

    const std::vector<uint8_t> output = read_file(out);
    if (count_of(std::string(output.begin(), output.end()), "handoff image-aligned=yes") != 2)
        fail("no hand-off line from each start");
    if (std::string text = new_error_output(context.errors, errors_before); !text.empty())
        fail("the program reported: " + text);
    fs::remove_all(c.runtime_folder);
}

std::string size_name(int mib) {
    return std::to_string(mib) + "MiB";
}

int run_benchmarks(int argc, char** argv, const fs::path& scratch) {
    // First, while this process is small.
    Launcher launcher;

    std::vector<char*> args{argv[0]};
    for (const char* flag : kDefaultFlags)
        args.push_back(const_cast<char*>(flag));
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    const Context context{&launcher, scratch / "program-errors.log"};
    const std::vector<uint8_t> stub = read_file(BENCH_STUB_PATH);
    const std::vector<uint8_t> kernel = read_file(BENCH_KERNEL_PATH);
    std::vector<StartupCase> cases;
    cases.reserve(std::size(kSizesMiB));
    for (int mib : kSizesMiB) {
        auto start = std::chrono::steady_clock::now();
        cases.push_back(make_case(mib, stub, kernel, scratch));
        check_case(context, cases.back(), scratch);
        const StartupCase& c = cases.back();
        std::printf(
            "prepared %2d MiB: package %.2f MiB (%.0f%% of the runtime files), %.1f s\n", mib,
            static_cast<double>(c.package_size) / kMiB,
            100.0 * static_cast<double>(c.package_size) / static_cast<double>(c.unpacked_size),
            seconds_since(start));
    }
    std::fflush(stdout);

    const fs::path trivial = fs::exists("/bin/true") ? "/bin/true" : "/usr/bin/true";
    struct Reference {
        std::string name;
        fs::path program;
        std::string label;
        bool complains;  // writes to standard error by design
    };
    const Reference references[] = {
        {"process_start/true", trivial, trivial.string() + " (a program doing nothing)", false},
        {"process_start/stub_alone", BENCH_STUB_PATH, "the stub without a package", true},
    };
    for (const Reference& reference : references) {
        benchmark::RegisterBenchmark(reference.name.c_str(),
                                     [&](benchmark::State& state) {
                                         process_start(state, context, reference.program,
                                                       reference.complains);
                                     })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    for (const StartupCase& c : cases) {
        const std::string size = size_name(c.mib);
        benchmark::RegisterBenchmark(
            ("startup/cold/" + size).c_str(),
            [&](benchmark::State& state) { startup(state, context, c, true); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            ("startup/warm/" + size).c_str(),
            [&](benchmark::State& state) { startup(state, context, c, false); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("baseline/" + size).c_str(),
                                     [&](benchmark::State& state) { baseline(state, c); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }

    bench::CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    bench::Summary summary;
    for (const Reference& reference : references) {
        summary.references.push_back({reference.label, reporter.median_ms(reference.name),
                                      reporter.max_counter(reference.name, kPeakRss)});
        summary.repetitions = std::max(summary.repetitions, reporter.repetitions(reference.name));
    }
    for (const StartupCase& c : cases) {
        const std::string size = size_name(c.mib);
        bench::SizeRow row;
        row.mib = c.mib;
        row.package_mib = static_cast<double>(c.package_size) / kMiB;
        row.cold_ms = reporter.median_ms("startup/cold/" + size);
        row.warm_ms = reporter.median_ms("startup/warm/" + size);
        row.baseline_ms = reporter.median_ms("baseline/" + size);
        row.cold_rss_mib = reporter.max_counter("startup/cold/" + size, kPeakRss);
        row.warm_rss_mib = reporter.max_counter("startup/warm/" + size, kPeakRss);
        summary.repetitions =
            std::max(summary.repetitions, reporter.repetitions("baseline/" + size));
        summary.rows.push_back(row);
    }
    bench::print_summary(stdout, summary);

    const std::vector<std::string> failures = reporter.failures();
    for (const std::string& failure : failures)
        std::fprintf(stderr, "FAILED %s\n", failure.c_str());
    return failures.empty() ? 0 : 1;
}

fs::path make_scratch() {
    std::string pattern = (fs::temp_directory_path() / "loader-startup-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a scratch folder below " +
                                 fs::temp_directory_path().string());
    return pattern;
}

}  // namespace

int main(int argc, char** argv) {
    int code = 1;
    fs::path scratch;
    try {
        scratch = make_scratch();
        // The programs unpack below the scratch folder and write no transcript.
        setenv("TMPDIR", scratch.c_str(), 1);
        unsetenv(automation::kTranscriptVariable);
        code = run_benchmarks(argc, argv, scratch);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "loader_startup_bench: %s\n", error.what());
        code = 1;
    }
    if (!scratch.empty()) {
        std::error_code ignored;
        fs::remove_all(scratch, ignored);
    }
    return code;
}
