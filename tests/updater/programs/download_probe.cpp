// One transfer of the downloader per click of 按钮_下载 (see
// download_probe.desc), with the address, save path, chunk size and manner
// typed by the script. Every report becomes the text of 标签_报告, numbered
// so that equal reports stay apart in the transcript:
//
//   <n> init <1|0>                            each click's Init (only the first counts)
//   <n> progress <save path> <total> <percent>
//   <n> finish <address> <status> <percent> <message>
//   <n> result <1|0> <last message>
//
// Manners: "init-twice" calls Init again with other handlers, whose
// reports would read "other-progress"/"other-finish"; "set-in-report" calls
// SetUrl and SetSavePath from both reports (reporting "<n> set-save-path
// <1|0>"); "abort-in-report" aborts and "reset-in-report" resets from the
// first progress report; "download-in-report" starts another Download from the first progress
// report; "download-first" calls Download before Init ("<n> before-init
// <1|0> <last message>").
#include "common/manifest/text_buffer.h"
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text.h"
#include "updater/resumable_downloader.h"

namespace {

using common::TextBuffer;
using updater::ResumableDownloader;

struct State {
    ResumableDownloader downloader;
    rt::Text manner;
    int64_t reports = 0;
    int32_t progress_reports = 0;
};

State* g_state = nullptr;

bool manner_is(const char* manner) {
    return g_state->manner == manner;
}

// Literals go through this call, not inline: an inlined copy loop may
// address a literal as "literal - 1", which imagelink refuses when the
// literal opens the const segment.
__attribute__((noinline)) TextBuffer& put(TextBuffer& line, const char* text) {
    return line << text;
}

void report(TextBuffer& line) {
    rt_set_property(RT_ID(52010001), RT_ID(16010001), RT_PROPERTY_TEXT, -1,
                    static_cast<int64_t>(reinterpret_cast<uintptr_t>(line.c_str())));
}

// "<n> what"
void start_line(TextBuffer& line, const char* what) {
    line << ++g_state->reports;
    put(line, " ") << what;
}

rt::Text edit_text(uint32_t unit) {
    return rt::Text::adopt(
        static_cast<intptr_t>(rt_get_property(RT_ID(52010001), unit, RT_PROPERTY_TEXT, -1)));
}

void meddle(const char* where) {
    if (!manner_is("set-in-report"))
        return;
    // Both are ignored while a transfer runs.
    g_state->downloader.SetUrl("http://127.0.0.1:1/elsewhere", "elsewhere");
    const bool taken = g_state->downloader.SetSavePath("elsewhere.bin");
    TextBuffer line;
    start_line(line, "set-save-path ");
    line << static_cast<int64_t>(taken ? 1 : 0);
    put(line, " ") << where;
    report(line);
}

void progress_line(const char* what, const char* save_path, int32_t total, int32_t speed,
                   int32_t percent) {
    TextBuffer line;
    start_line(line, what);
    put(line, " ") << save_path;
    put(line, " ") << static_cast<int64_t>(total);
    put(line, " ") << static_cast<int64_t>(percent);
    if (speed < 0)
        put(line, " negative-speed");
    report(line);
}

void finish_line(const char* what, const char* address, int32_t status, const char* message,
                 int32_t percent) {
    TextBuffer line;
    start_line(line, what);
    put(line, " ") << address;
    put(line, " ") << static_cast<int64_t>(status);
    put(line, " ") << static_cast<int64_t>(percent);
    put(line, " ") << message;
    report(line);
}

void on_progress(const char* save_path, int32_t total, int32_t speed, int32_t percent) {
    progress_line("progress", save_path, total, speed, percent);
    meddle("progress");
    if (++g_state->progress_reports != 1)
        return;
    if (manner_is("abort-in-report"))
        g_state->downloader.Abort();
    if (manner_is("reset-in-report"))
        g_state->downloader.Reset();
    if (manner_is("download-in-report")) {
        const bool nested = g_state->downloader.Download();
        TextBuffer line;
        start_line(line, "nested ");
        line << static_cast<int64_t>(nested ? 1 : 0);
        report(line);
    }
}

void on_finish(const char* address, int32_t status, const char* message, int32_t percent) {
    finish_line("finish", address, status, message, percent);
    meddle("finish");
}

void on_other_progress(const char* save_path, int32_t total, int32_t speed, int32_t percent) {
    progress_line("other-progress", save_path, total, speed, percent);
}

void on_other_finish(const char* address, int32_t status, const char* message, int32_t percent) {
    finish_line("other-finish", address, status, message, percent);
}

// The leading number of a text, 0 without one.
int32_t number_of(const char* text) {
    int32_t value = 0;
    while (*text >= '0' && *text <= '9')
        value = value * 10 + (*text++ - '0');
    return value;
}

}  // namespace

extern "C" {

RT_CALL void app_initialise_globals() {
    g_state = new State();
}

RT_CALL void app_release_globals() {
    delete g_state;
    g_state = nullptr;
}

RT_CALL void download_clicked() {
    State& s = *g_state;
    s.manner = edit_text(RT_ID(16010005));
    s.progress_reports = 0;
    rt::Text address = edit_text(RT_ID(16010002));
    rt::Text path = edit_text(RT_ID(16010003));
    rt::Text chunk = edit_text(RT_ID(16010004));

    if (manner_is("download-first")) {
        const bool done = s.downloader.Download();
        TextBuffer line;
        start_line(line, "before-init ");
        line << static_cast<int64_t>(done ? 1 : 0);
        put(line, " ") << s.downloader.last_message();
        report(line);
    }
    {
        const bool initialised = s.downloader.Init(&on_progress, &on_finish);
        TextBuffer line;
        start_line(line, "init ");
        line << static_cast<int64_t>(initialised ? 1 : 0);
        report(line);
    }
    if (manner_is("init-twice")) {
        const bool again = s.downloader.Init(&on_other_progress, &on_other_finish);
        TextBuffer line;
        start_line(line, "init-again ");
        line << static_cast<int64_t>(again ? 1 : 0);
        report(line);
    }
    if (!chunk.empty())
        s.downloader.SetChunkSize(static_cast<uint8_t>(number_of(chunk.c_str())));
    s.downloader.SetSavePath(path.c_str());
    s.downloader.SetUrl(address.c_str(), "");
    const bool done = s.downloader.Download();
    TextBuffer line;
    start_line(line, "result ");
    line << static_cast<int64_t>(done ? 1 : 0);
    put(line, " ") << s.downloader.last_message();
    report(line);
}
}
