// Collecting the start-up benchmark results and printing their summary table.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// Keeps every repetition of every benchmark; shows the console the
// aggregates only when benchmarks are repeated.
class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override;

    // Median over the repetitions of the benchmark registered as `name`, in
    // milliseconds; nothing when it did not run or failed.
    std::optional<double> median_ms(const std::string& name) const;
    // Largest value of a user counter over the repetitions.
    std::optional<double> max_counter(const std::string& name, const std::string& counter) const;
    size_t repetitions(const std::string& name) const;
    // Names of the benchmarks that reported an error, with the error.
    std::vector<std::string> failures() const;

  private:
    struct Samples {
        std::vector<double> ms;
        std::map<std::string, double> max_counters;
        std::string error;
    };
    std::map<std::string, Samples> samples_;
};

// One runtime package size of the summary.
struct SizeRow {
    int mib = 0;
    double package_mib = 0;  // the compressed package
    std::optional<double> cold_ms, warm_ms, baseline_ms;
    std::optional<double> cold_rss_mib, warm_rss_mib;
};

// A reference start: a program that does next to nothing.
struct ReferenceRow {
    std::string label;
    std::optional<double> ms;
    std::optional<double> rss_mib;
};

struct Summary {
    std::vector<SizeRow> rows;
    std::vector<ReferenceRow> references;
    size_t repetitions = 0;
};

// Goals: a cold start at most 1.3 times the raw baseline; a warm start within
// 1 ms per MiB of runtime plus 5 ms.
inline constexpr double kColdToBaselineGoal = 1.3;
inline double warm_goal_ms(int mib) {
    return 1.0 * mib + 5.0;
}

void print_summary(std::FILE* out, const Summary& summary);

}  // namespace bench
