#include "bench/startup_summary.h"

#include <algorithm>

namespace bench {

void CollectingReporter::ReportRuns(const std::vector<Run>& runs) {
    std::vector<Run> shown;
    for (const Run& run : runs) {
        Samples& samples = samples_[run.run_name.function_name];
        if (run.error_occurred) {
            samples.error = run.error_message;
            shown.push_back(run);
            continue;
        }
        if (run.run_type == Run::RT_Aggregate) {
            shown.push_back(run);
            continue;
        }
        const double ms =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
        samples.ms.push_back(ms);
        for (const auto& [counter, value] : run.counters) {
            auto [at, added] = samples.max_counters.emplace(counter, value.value);
            if (!added)
                at->second = std::max(at->second, value.value);
        }
        if (run.repetitions <= 1)
            shown.push_back(run);
    }
    if (!shown.empty())
        ConsoleReporter::ReportRuns(shown);
}

std::optional<double> CollectingReporter::median_ms(const std::string& name) const {
    auto found = samples_.find(name);
    if (found == samples_.end() || !found->second.error.empty() || found->second.ms.empty())
        return std::nullopt;
    std::vector<double> ms = found->second.ms;
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    return n % 2 == 1 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
}

std::optional<double> CollectingReporter::max_counter(const std::string& name,
                                                      const std::string& counter) const {
    auto found = samples_.find(name);
    if (found == samples_.end() || !found->second.error.empty())
        return std::nullopt;
    auto value = found->second.max_counters.find(counter);
    if (value == found->second.max_counters.end())
        return std::nullopt;
    return value->second;
}

size_t CollectingReporter::repetitions(const std::string& name) const {
    auto found = samples_.find(name);
    return found == samples_.end() ? 0 : found->second.ms.size();
}

std::vector<std::string> CollectingReporter::failures() const {
    std::vector<std::string> failed;
    for (const auto& [name, samples] : samples_) {
        if (!samples.error.empty())
            failed.push_back(name + ": " + samples.error);
    }
    return failed;
}

namespace {

std::string number(std::optional<double> value, const char* format = "%.2f") {
    if (!value)
        return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, format, *value);
    return text;
}

std::optional<double> per_mib(std::optional<double> ms, int mib) {
    if (!ms)
        return std::nullopt;
    return *ms / mib;
}

std::optional<double> ratio(std::optional<double> a, std::optional<double> b) {
    if (!a || !b || *b <= 0)
        return std::nullopt;
    return *a / *b;
}

}  // namespace

void print_summary(std::FILE* out, const Summary& summary) {
    std::fprintf(
        out,
        "\nStart-up to the hand-off, median wall time of %zu repetitions "
        "(1 MiB = 2^20 bytes of runtime files)\n"
        "  cold: runtime folder deleted before each run; warm: folder present, stamp valid\n"
        "  base: in-process uncompress of the same stream into a fresh buffer, then write\n"
        "        and rename of the same files\n"
        "  goals: cold/base <= %.1f; warm <= 1 ms per MiB + 5 ms\n\n",
        summary.repetitions, kColdToBaselineGoal);
    const char* row_format =
        "%-7s %9s | %8s %7s | %8s %7s | %8s %7s | %9s %4s | %9s %4s | %8s %8s\n";
    std::fprintf(out, row_format, "runtime", "package", "cold ms", "ms/MiB", "warm ms", "ms/MiB",
                 "base ms", "ms/MiB", "cold/base", "met", "warm goal", "met", "cold RSS",
                 "warm RSS");
    for (const SizeRow& row : summary.rows) {
        const auto cold_ratio = ratio(row.cold_ms, row.baseline_ms);
        const double goal = warm_goal_ms(row.mib);
        auto met = [](std::optional<double> value, double limit) {
            return !value ? "n/a" : *value <= limit ? "yes" : "NO";
        };
        char size[16], package[16], goal_text[16];
        std::snprintf(size, sizeof size, "%d MiB", row.mib);
        std::snprintf(package, sizeof package, "%.2f MiB", row.package_mib);
        std::snprintf(goal_text, sizeof goal_text, "%.1f ms", goal);
        std::fprintf(
            out, row_format, size, package, number(row.cold_ms).c_str(),
            number(per_mib(row.cold_ms, row.mib), "%.3f").c_str(), number(row.warm_ms).c_str(),
            number(per_mib(row.warm_ms, row.mib), "%.3f").c_str(), number(row.baseline_ms).c_str(),
            number(per_mib(row.baseline_ms, row.mib), "%.3f").c_str(), number(cold_ratio).c_str(),
            met(cold_ratio, kColdToBaselineGoal), goal_text, met(row.warm_ms, goal),
            (number(row.cold_rss_mib, "%.1f") + " MiB").c_str(),
            (number(row.warm_rss_mib, "%.1f") + " MiB").c_str());
    }
    std::fprintf(out, "\nReference starts, median wall time and peak RSS:\n");
    for (const ReferenceRow& row : summary.references) {
        std::fprintf(out, "  %-40s %8s ms %6s MiB\n", row.label.c_str(), number(row.ms).c_str(),
                     number(row.rss_mib, "%.1f").c_str());
    }
    std::fprintf(out,
                 "Cold and warm times include the process start: nothing is subtracted. RSS is\n"
                 "the program's peak resident size.\n");
}

}  // namespace bench
