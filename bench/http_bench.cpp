// Ranged HTTP requests of 10240 bytes against nginx on loopback, as the
// updater's downloader makes them: through the HTTP request object of Linux
// (members by name, as the kernel calls them: open, seven headers, send,
// readyState and waitForResponse, status, responseBody, Content-Range),
// beside raw libcurl making the same requests with one reused handle. Both
// run in the same process, interleaved; the summary gives the ratio of
// their request rates (goal: the object at least 0.8 times raw libcurl).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "runtime/kernel/services/object.h"
#include "tests/support/nginx_server.h"

namespace {

namespace fs = std::filesystem;
using kernel::ObjectValue;

constexpr size_t kChunk = 10240;
constexpr size_t kFileSize = 100 * kChunk;

std::string g_address;

const std::vector<std::pair<std::string, std::string>> kHeaders = {
    {"Referer", ""},
    {"Accept", "*/*"},
    {"User-Agent", "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)"},
    {"Content-Type", "application/octet-stream"},
    {"Pragma", "no-cache"},
    {"Cache-Control", "no-cache"},
};

std::string range_of(size_t from) {
    return "bytes=" + std::to_string(from) + "-" + std::to_string(from + kChunk - 1);
}

void request_object(benchmark::State& state) {
    std::unique_ptr<kernel::Object> request = kernel::create_object("MSXML2.ServerXMLHTTP");
    if (request == nullptr) {
        state.SkipWithError("no request object");
        return;
    }
    const ObjectValue get = ObjectValue::of_text("GET");
    const ObjectValue address = ObjectValue::of_text(g_address);
    const ObjectValue async = ObjectValue::of_logical(true);
    const ObjectValue wait = ObjectValue::of_integer(1000);
    const ObjectValue content_range = ObjectValue::of_text("Content-Range");
    size_t from = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        const ObjectValue open_arguments[] = {get, address, async};
        bool ok = !request->call("open", open_arguments).is_error();
        // In the downloader's order: Range goes fourth.
        for (size_t i = 0; i < kHeaders.size(); ++i) {
            if (i == 3) {
                const ObjectValue range[] = {ObjectValue::of_text("Range"),
                                             ObjectValue::of_text(range_of(from))};
                ok &= !request->call("setRequestHeader", range).is_error();
            }
            const ObjectValue header[] = {ObjectValue::of_text(kHeaders[i].first),
                                          ObjectValue::of_text(kHeaders[i].second)};
            ok &= !request->call("setRequestHeader", header).is_error();
        }
        ok &= !request->call("send", {}).is_error();
        while (request->get("readyState").value().integer != 4)
            ok &= !request->call("waitForResponse", std::span(&wait, 1)).is_error();
        auto status = request->get("status");
        auto body = request->get("responseBody");
        auto range = request->call("getResponseHeader", std::span(&content_range, 1));
        if (!ok || status.is_error() || status.value().integer != 206 || body.is_error() ||
            range.is_error()) {
            state.SkipWithError("request failed");
            return;
        }
        bytes += static_cast<int64_t>(body.value().bytes.size());
        from = (from + kChunk) % kFileSize;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
}

size_t collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::vector<uint8_t>*>(body)->insert(
        static_cast<std::vector<uint8_t>*>(body)->end(), data, data + size * count);
    return size * count;
}

void raw_libcurl(benchmark::State& state) {
    CURL* easy = curl_easy_init();
    curl_slist* headers = nullptr;
    for (const auto& [name, value] : kHeaders)
        headers =
            curl_slist_append(headers, (value.empty() ? name + ";" : name + ": " + value).c_str());
    std::vector<uint8_t> body;
    curl_easy_setopt(easy, CURLOPT_URL, g_address.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    size_t from = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        body.clear();
        const std::string range = std::to_string(from) + "-" + std::to_string(from + kChunk - 1);
        curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());
        long status = 0;
        if (curl_easy_perform(easy) != CURLE_OK ||
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 206) {
            state.SkipWithError("request failed");
            break;
        }
        bytes += static_cast<int64_t>(body.size());
        from = (from + kChunk) % kFileSize;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
}

BENCHMARK(request_object)->Repetitions(5)->UseRealTime();
BENCHMARK(raw_libcurl)->Repetitions(5)->UseRealTime();

// Keeps the median request rate of each benchmark.
class RateReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            auto rate = run.counters.find("items_per_second");
            if (rate != run.counters.end())
                rates[run.run_name.function_name] = rate->second.value;
        }
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    if (!test_support::NginxServer::installed()) {
        std::printf("HTTP request object benchmark skipped: nginx is not installed\n");
        return 0;
    }
    char scratch_pattern[] = "/tmp/gs-http-bench-XXXXXX";
    if (mkdtemp(scratch_pattern) == nullptr)
        return 1;
    const fs::path site = scratch_pattern;
    {
        std::vector<char> content(kFileSize);
        for (size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>(i * 7);
        std::ofstream(site / "file.bin", std::ios::binary).write(content.data(), content.size());
    }
    {
        test_support::NginxServer server(site);
        if (!server.running()) {
            std::fprintf(stderr, "nginx: %s\n", server.error().c_str());
            fs::remove_all(site);
            return 1;
        }
        g_address = server.address("file.bin");

        // Interleaved repetitions, so a machine busy with other work weighs
        // on both alike.
        std::vector<char*> arguments(argv, argv + argc);
        std::string interleave = "--benchmark_enable_random_interleaving=true";
        arguments.insert(arguments.begin() + 1, interleave.data());
        int count = static_cast<int>(arguments.size());
        benchmark::Initialize(&count, arguments.data());
        RateReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();

        const auto object = reporter.rates.find("request_object");
        const auto raw = reporter.rates.find("raw_libcurl");
        if (object != reporter.rates.end() && raw != reporter.rates.end() && raw->second > 0) {
            const double ratio = object->second / raw->second;
            std::printf(
                "\nranged 10240-byte requests per second (median): request object %.0f, raw "
                "libcurl %.0f\nratio %.3f (goal >= 0.8): %s\n",
                object->second, raw->second, ratio, ratio >= 0.8 ? "met" : "NOT met");
        }
    }
    fs::remove_all(site);
    return 0;
}
