#include "runtime/kernel/services/files.h"

#include <cstdint>
#include <cstdio>

namespace kernel::files {

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civil_from_days(int64_t days, int64_t& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t shifted_month = (5 * day_of_year + 2) / 153;
    day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::string time_text(int64_t unix_seconds) {
    // 0000-01-01 00:00:00 and 9999-12-31 23:59:59: a four-digit year always.
    constexpr int64_t kFirst = -62167219200;
    constexpr int64_t kLast = 253402300799;
    if (unix_seconds < kFirst)
        unix_seconds = kFirst;
    if (unix_seconds > kLast)
        unix_seconds = kLast;
    int64_t days = unix_seconds / 86400;
    int64_t rest = unix_seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t year = 0;
    int month = 0;
    int day = 0;
    civil_from_days(days, year, month, day);
    // Room for every int the fields could hold, so no rendering is cut.
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(year), month,
                  day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return text;
}

std::vector<std::string> split_lines(std::span<const uint8_t> bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n')
            continue;
        size_t end = i;
        if (end > start && bytes[end - 1] == '\r')
            --end;
        lines.emplace_back(reinterpret_cast<const char*>(bytes.data()) + start, end - start);
        start = i + 1;
    }
    if (start < bytes.size())
        lines.emplace_back(reinterpret_cast<const char*>(bytes.data()) + start,
                           bytes.size() - start);
    return lines;
}

int32_t LineFiles::open(std::string_view gbk_path) {
    auto bytes = read_file(gbk_path);
    if (!bytes)
        return 0;
    // Handles count up and are not given twice while the program runs; after
    // the last positive number they start again at 1, skipping open ones.
    while (files_.count(next_handle_) != 0)
        next_handle_ = next_handle_ == INT32_MAX ? 1 : next_handle_ + 1;
    const int32_t handle = next_handle_;
    next_handle_ = handle == INT32_MAX ? 1 : handle + 1;
    files_[handle] = File{split_lines(*bytes), 0};
    return handle;
}

std::optional<std::string> LineFiles::next(int32_t handle) {
    auto found = files_.find(handle);
    if (found == files_.end() || found->second.position >= found->second.lines.size())
        return std::nullopt;
    return std::move(found->second.lines[found->second.position++]);
}

bool LineFiles::close(int32_t handle) {
    return files_.erase(handle) != 0;
}

}  // namespace kernel::files
