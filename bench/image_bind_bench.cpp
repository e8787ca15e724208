// Binding an x86-64 image of 1 MiB of code with 20,000 fixups, beside a plain
// copy of the same image bytes measured in the same run:
//
//   bind/buffer      bind_image into a buffer that is reused from run to run
//                    (fake host: no-op protection), reading the image included
//   bind/native      bind_image into fresh native memory below 2 GB, with
//                    real protection, released after each run
//   read/image       read_image alone: the reader's share of binding
//   baseline/memcpy  memcpy of the image's bytes into a reused buffer
//
// The summary prints each median time as a ratio to the baseline's.
// Goal: bind/buffer at most 5 times the baseline.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/byte_reader.h"
#include "image/bind/binder.h"
#include "image/bind/native_memory.h"

namespace {

using namespace image;

constexpr size_t kCodeSize = size_t{1} << 20;
constexpr size_t kFixupCount = 20000;
constexpr size_t kConstSize = 4096;
constexpr uint32_t kVarSize = 64 * 1024;
constexpr uint64_t kBufferAddress = 0x10000000;
constexpr double kGoal = 5.0;

// Defaults, before the command line's own flags (the last one given wins).
const char* const kDefaultFlags[] = {
    "--benchmark_repetitions=5",
    "--benchmark_min_time=0.2",
};

// Code of pseudo-random bytes with fixups of every kind, evenly spread and in
// ascending order, as a linker writes them.
std::vector<uint8_t> make_image() {
    Image model;
    model.architecture = Architecture::X86_64;
    model.libraries = {*known_library("krnln")};
    model.const_segment.data.assign(kConstSize, 0x20);
    model.var_size = kVarSize;
    std::vector<uint8_t>& code = model.code.data;
    code.resize(kCodeSize);
    uint32_t state = 0x9E3779B9u;
    for (uint8_t& byte : code) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    const uint32_t spacing = static_cast<uint32_t>(kCodeSize / kFixupCount);
    for (uint32_t i = 0; i < kFixupCount; ++i) {
        const uint32_t site = i * spacing;
        const auto kind = static_cast<FixupKind>(i % 4);
        uint32_t value = 0;
        switch (kind) {
            case FixupKind::SlotTable:
                value = 8 * (i % 13);
                break;
            case FixupKind::Const:
                value = i % kConstSize;
                break;
            case FixupKind::Var:
                value = i % kVarSize;
                break;
            case FixupKind::Code:
                value = (i * 97) % kCodeSize;
                break;
        }
        base::store_le32(code.data() + site, value);
        model.code.fixups.push_back({site, kind});
    }
    auto bytes = write_image(model);
    if (bytes.is_error()) {
        std::fprintf(stderr, "image_bind_bench: %s\n", bytes.error().c_str());
        std::exit(1);
    }
    return bytes.release_value();
}

const std::vector<uint8_t>& image_bytes() {
    static const std::vector<uint8_t> bytes = make_image();
    return bytes;
}

// The runtime's part of a host, answered at once.
template <typename Memory>
class QuietHost : public Memory {
  public:
    uint64_t slot(size_t index) override { return 0x00007F0000000000 + 16 * index; }
    bool load_library(const LibraryEntry&, size_t) override { return true; }
    std::optional<uint64_t> resolve_dll(const DllDeclaration&) override { return 0; }
    std::optional<uint32_t> rewrite_identifier(uint32_t value) override { return value; }
    std::optional<uint32_t> rewrite_dll_number(uint32_t value) override { return value; }
    std::optional<uint32_t> rewrite_library_position(uint32_t value) override { return value; }
    std::optional<uint32_t> rewrite_type_reference(uint32_t value) override { return value; }
};

// Memory of a buffer kept from run to run; protection is not asked of it.
class BufferMemory : public BindHost {
  public:
    std::optional<Placement> reserve(size_t size, Architecture) override {
        if (buffer_.size() < size)
            buffer_.resize(size);
        return Placement{buffer_.data(), kBufferAddress, false};
    }
    bool protect(const Placement&, size_t, size_t, Protection) override { return true; }
    void release(const Placement&, size_t) override {}

  private:
    std::vector<uint8_t> buffer_;
};

void bind_buffer(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = image_bytes();
    QuietHost<BufferMemory> host;
    for (auto _ : state) {
        auto bound = bind_image(bytes, host);
        if (bound.is_error()) {
            state.SkipWithError(bound.error().c_str());
            break;
        }
        benchmark::DoNotOptimize(bound.value().start_routine);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void bind_native(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = image_bytes();
    QuietHost<NativeMemoryHost> host;
    for (auto _ : state) {
        auto bound = bind_image(bytes, host);
        if (bound.is_error()) {
            state.SkipWithError(bound.error().c_str());
            break;
        }
        native_memory::release(bound.value().placement, bound.value().size);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void read_only(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = image_bytes();
    for (auto _ : state) {
        auto model = read_image(bytes);
        if (model.is_error()) {
            state.SkipWithError(model.error().c_str());
            break;
        }
        benchmark::DoNotOptimize(model.value().code.data.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void baseline_memcpy(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = image_bytes();
    std::vector<uint8_t> target(bytes.size());
    for (auto _ : state) {
        std::memcpy(target.data(), bytes.data(), bytes.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(bind_buffer)->Name("bind/buffer")->Unit(benchmark::kMicrosecond);
BENCHMARK(bind_native)->Name("bind/native")->Unit(benchmark::kMicrosecond);
BENCHMARK(read_only)->Name("read/image")->Unit(benchmark::kMicrosecond);
BENCHMARK(baseline_memcpy)->Name("baseline/memcpy")->Unit(benchmark::kMicrosecond);

// Keeps the time per iteration of every repetition.
class Collecting : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                seconds_[run.run_name.function_name].push_back(
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit));
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::optional<double> median(const std::string& name) const {
        auto found = seconds_.find(name);
        if (found == seconds_.end() || found->second.empty())
            return std::nullopt;
        std::vector<double> values = found->second;
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }

  private:
    std::map<std::string, std::vector<double>> seconds_;
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

    std::printf("\nimage binding: %zu KiB image, %zu KiB code, %zu fixups (median per run)\n",
                image_bytes().size() / 1024, kCodeSize / 1024, kFixupCount);
    const std::optional<double> baseline = reporter.median("baseline/memcpy");
    for (const char* name : {"bind/buffer", "bind/native", "read/image"}) {
        const std::optional<double> time = reporter.median(name);
        if (!time || !baseline) {
            std::printf("  %-12s n/a\n", name);
            continue;
        }
        const double ratio = *time / *baseline;
        const bool goal = std::string(name) == "bind/buffer";
        std::printf("  %-12s %9.1f us  %5.2fx memcpy (%9.1f us)%s\n", name, *time * 1e6, ratio,
                    *baseline * 1e6,
                    goal ? (ratio <= kGoal ? "  goal <= 5x: met" : "  goal <= 5x: MISSED") : "");
    }
    return 0;
}
