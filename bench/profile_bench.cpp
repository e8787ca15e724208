// Reading a whole update manifest key by key, as the updater does: a
// profile file of N sections named by file names, each with the keys
// "文件名", "文件路径", "文件日期" and "文件尺寸" (GBK), every key read once
// through the code that the kernel's read command runs (a fresh reader per
// run, so each run parses the file once):
//
//   read_all/10000, read_all/20000   every key of a manifest of N sections
//   write_one/20000                  one key of the 20,000-section manifest
//                                    written (the whole file is rewritten)
//
// The summary prints the median real and processor time per run, the ratio
// of 20,000 to 10,000 sections (2 for linear cost) and the goal: all keys of
// 20,000 sections in at most 0.5 s of processor time (real time on a shared,
// busy machine is mostly waiting for a processor).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/encoding.h"
#include "runtime/kernel/services/profile_file.h"

namespace {

namespace fs = std::filesystem;

constexpr double kGoalSeconds = 0.5;

const char* const kDefaultFlags[] = {
    "--benchmark_repetitions=3",
};

std::string gbk(const char* utf8) {
    return base::utf8_to_gbk(utf8).value();
}

struct Keys {
    std::string name = gbk("文件名");
    std::string path = gbk("文件路径");
    std::string date = gbk("文件日期");
    std::string size = gbk("文件尺寸");
};

const Keys& keys() {
    static const Keys k;
    return k;
}

std::string section_name(int i) {
    // Names as a release folder has them: some ASCII, some GBK.
    return i % 3 == 0 ? gbk("界面") + std::to_string(i) + ".dat"
                      : "file" + std::to_string(i) + (i % 2 ? ".dll" : ".MPQ");
}

fs::path folder() {
    static const fs::path path = [] {
        fs::path p = fs::temp_directory_path() / ("gs-profile-bench-" + std::to_string(getpid()));
        fs::create_directories(p);
        return p;
    }();
    return path;
}

// The manifest of `sections` sections, written once, with a last-write time
// well in the past (as an installed manifest has).
std::string manifest(int sections) {
    const fs::path path = folder() / ("up" + std::to_string(sections) + ".dat");
    if (!fs::exists(path)) {
        const Keys& k = keys();
        std::string text;
        for (int i = 0; i < sections; ++i) {
            const std::string name = section_name(i);
            text += "[" + name + "]\r\n";
            text += k.name + "=" + name + "\r\n";
            text += k.path + "=\\Data\\" + gbk("子目录") + std::to_string(i % 50) + "\\" + name +
                    "\r\n";
            text += k.date + "=2026-12-" + std::to_string(10 + i % 20) + " 05:15:41\r\n";
            text += k.size + "=" + std::to_string(1000 + i * 37) + "\r\n";
        }
        text += "[";
        text += gbk("版本");
        text += "]\r\n";
        text += gbk("版本号");
        text += "=1.0\r\n";
        std::ofstream(path, std::ios::binary) << text;
        const struct timespec old[2] = {{1700000000, 0}, {1700000000, 0}};
        utimensat(AT_FDCWD, path.c_str(), old, 0);
    }
    return path.string();  // ASCII: the same bytes in GBK
}

void read_all(benchmark::State& state) {
    const int sections = static_cast<int>(state.range(0));
    const std::string path = manifest(sections);
    const Keys& k = keys();
    std::vector<std::string> names;
    for (int i = 0; i < sections; ++i)
        names.push_back(section_name(i));
    for (auto _ : state) {
        kernel::ProfileFiles files;
        size_t total = 0;
        for (const std::string& name : names) {
            for (const std::string* key : {&k.name, &k.path, &k.date, &k.size}) {
                const std::string value = files.read(path, name, *key);
                if (value.empty()) {
                    state.SkipWithError("a key read as empty");
                    return;
                }
                total += value.size();
            }
        }
        benchmark::DoNotOptimize(total);
        if (files.parses() != 1)
            state.SkipWithError("the manifest was parsed more than once");
    }
    state.SetItemsProcessed(state.iterations() * sections * 4);
}

void write_one(benchmark::State& state) {
    const int sections = static_cast<int>(state.range(0));
    const fs::path source = manifest(sections);
    const fs::path copy = folder() / "written.dat";
    fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
    kernel::ProfileFiles files;
    const std::string name = section_name(sections / 2);
    int round = 0;
    for (auto _ : state) {
        const std::string value = std::to_string(round++ % 2);
        if (!files.write(copy.string(), name, keys().size, value)) {
            state.SkipWithError("the write failed");
            return;
        }
    }
}

BENCHMARK(read_all)->Name("read_all")->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(write_one)->Name("write_one")->Arg(20000)->Unit(benchmark::kMillisecond);

// Keeps the real and the processor time per iteration of every repetition.
class Collecting : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const std::string name = run.run_name.function_name + "/" + run.run_name.args;
            const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            real_[name].push_back(run.GetAdjustedRealTime() / unit);
            cpu_[name].push_back(run.GetAdjustedCPUTime() / unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::optional<double> real(const std::string& name) const { return median(real_, name); }
    std::optional<double> cpu(const std::string& name) const { return median(cpu_, name); }

  private:
    using Times = std::map<std::string, std::vector<double>>;
    static std::optional<double> median(const Times& times, const std::string& name) {
        auto found = times.find(name);
        if (found == times.end() || found->second.empty())
            return std::nullopt;
        std::vector<double> values = found->second;
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }

    Times real_;
    Times cpu_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = {argv[0]};
    for (const char* flag : kDefaultFlags)
        args.push_back(const_cast<char*>(flag));
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 2;

    Collecting reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(folder(), ignored);

    std::printf(
        "\nprofile files: every key of a manifest, read through the kernel's reader\n"
        "(median per run; real time, and processor time, which a busy machine does not "
        "inflate)\n");
    auto line = [&](const char* label, const std::string& name) -> std::optional<double> {
        const std::optional<double> real = reporter.real(name);
        const std::optional<double> cpu = reporter.cpu(name);
        if (!real || !cpu)
            return std::nullopt;
        std::printf("  %-30s %8.1f ms real %8.1f ms processor\n", label, *real * 1e3, *cpu * 1e3);
        return cpu;
    };
    const auto half = line("10,000 sections, 40,000 keys", "read_all/10000");
    const auto full = line("20,000 sections, 80,000 keys", "read_all/20000");
    line("one write, 20,000 sections", "write_one/20000");
    if (full)
        std::printf("  goal: all keys of 20,000 sections in <= %.0f ms of processor time: %s\n",
                    kGoalSeconds * 1e3, *full <= kGoalSeconds ? "met" : "MISSED");
    if (half && full)
        std::printf("  20,000 / 10,000 sections: %.2f (2.00 is linear)\n", *full / *half);
    return 0;
}
