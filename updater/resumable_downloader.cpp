#include "updater/resumable_downloader.h"

#include "rt/text_line.h"

namespace updater {

namespace {

// The outcomes a transfer ends with.
const char kDone[] = "下载完毕";
const char kNotInitialised[] = "没有初始化";
const char kBusy[] = "正在下载中……";
const char kCannotOpen[] = "本地文件无法打开";
const char kTimeOut[] = "数据下载超时，建议重试。";
const char kUserAbort[] = "用户中止了下载";
const char kNoRanges[] = "服务器不支持断点续传！";
const char kLengthUnknown[] = "文件长度未知！";
const char kConnectionFailed[] = "网络连接失败，建议重试。";
const char kBadRange[] = "服务器返回的数据范围有误！";
const char kLengthChanged[] = "服务器上的文件长度已改变！";
const char kLengthMismatch[] = "服务器上的文件长度与本地文件不符！";
const char kTooLarge[] = "文件超过2GB，无法下载！";
const char kCannotWrite[] = "本地文件无法写入";

// The largest length the 32-bit counters hold: resources of 2 GB or more
// are refused.
constexpr int64_t kLargest = 0x7fffffff;
// Far above any length, below any overflow.
constexpr int64_t kSaturated = int64_t{1} << 60;

bool same_text(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Not inlined: an inlined copy loop may address a literal as "literal - 1",
// which imagelink refuses when the literal opens the const segment.
__attribute__((noinline)) rt::Text copy_of(const char* text) {
    return rt::Text::copy(text);
}

// ---- reading "Content-Range" ----

void skip_spaces(const char*& p) {
    while (*p == ' ' || *p == '\t')
        ++p;
}

// The leading decimal number at `p`, as a text-to-number conversion reads
// it (what follows is left for the caller); false when there is none.
bool leading_number(const char*& p, int64_t& value) {
    skip_spaces(p);
    if (*p < '0' || *p > '9')
        return false;
    value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p - '0');
        if (value > kSaturated)
            value = kSaturated;
        ++p;
    }
    return true;
}

bool take(const char*& p, char c) {
    skip_spaces(p);
    if (*p != c)
        return false;
    ++p;
    return true;
}

struct ContentRange {
    bool has_range = false;  // "first-last"; false for "*"
    int64_t first = 0;
    int64_t last = 0;
    bool has_total = false;  // a number; false for "*" or anything else
    int64_t total = 0;
};

// "bytes first-last/total" or "bytes */total", nothing before or after but
// spaces. A total that is not a number ("*" or anything else) parses as an
// unknown one.
bool parse_content_range(const char* p, ContentRange& range) {
    skip_spaces(p);
    const char unit[] = "bytes";
    for (const char* u = unit; *u != '\0'; ++u, ++p)
        if ((*p | 0x20) != *u)
            return false;
    if (*p != ' ' && *p != '\t')
        return false;
    if (take(p, '*')) {
        range.has_range = false;
    } else {
        range.has_range = true;
        if (!leading_number(p, range.first) || !take(p, '-') || !leading_number(p, range.last))
            return false;
    }
    if (!take(p, '/'))
        return false;
    range.has_total = leading_number(p, range.total);
    skip_spaces(p);
    if (*p != '\0')
        range.has_total = false;
    return true;
}

int32_t percent_of(int32_t received, int32_t total) {
    if (total == 0)
        return 0;
    // In a double: received x 100 does not fit 32 bits, and the quotient's
    // truncation is exact at these sizes.
    return static_cast<int32_t>(static_cast<double>(received) * 100.0 / total);
}

}  // namespace

void ResumableDownloader::Reset() {
    if (busy_ != 0) {
        // The transfer still uses the object: it ends after this report and
        // the rest follows then.
        Abort();
        reset_pending_ = 1;
        return;
    }
    Abort();
    request_.release();
    initialised_ = 0;
    busy_ = 0;
    abort_flag_ = 0;
    received_ = 0;
    progress_report_ = nullptr;
    finish_report_ = nullptr;
    total_length_ = 0;
    request_time_limit_ = 0;
    chunk_size_ = 0;
    address_.reset();
    referer_.reset();
    last_message_.reset();
    save_path_.reset();
    reset_pending_ = 0;
}

bool ResumableDownloader::Init(ProgressReport progress_report, FinishReport finish_report) {
    if (initialised_ != 0 || busy_ != 0)
        return false;
    request_ = rt::HttpRequest::create();
    if (!request_.valid())
        return false;
    initialised_ = 1;
    busy_ = 0;
    progress_report_ = progress_report;
    finish_report_ = finish_report;
    total_length_ = 0;
    abort_flag_ = 0;
    chunk_size_ = kDefaultChunkSize;
    request_time_limit_ = chunk_size_ * 10;
    return true;
}

void ResumableDownloader::SetChunkSize(uint8_t kilobytes) {
    if (initialised_ == 0 || busy_ != 0)
        return;
    chunk_size_ = (kilobytes == 0 ? 4 : kilobytes) * 1024;
    request_time_limit_ = chunk_size_ * 10;
}

void ResumableDownloader::SetUrl(const char* address, const char* referer) {
    if (initialised_ == 0 || busy_ != 0)
        return;
    address_ = copy_of(address);
    referer_ = copy_of(referer);
}

bool ResumableDownloader::SetSavePath(const char* path) {
    if (initialised_ == 0 || busy_ != 0)
        return false;
    save_path_ = copy_of(path);
    return true;
}

void ResumableDownloader::Abort() {
    if (busy_ == 0)
        return;
    abort_flag_ = 1;
    request_.abort();
}

void ResumableDownloader::clear_state() {
    busy_ = 0;
    abort_flag_ = 0;
    received_ = 0;
    total_length_ = 0;
}

void ResumableDownloader::report_finish() {
    if (finish_report_ == nullptr)
        return;
    const int32_t status = request_.valid() ? request_.status() : -1;
    finish_report_(address_.c_str(), status, last_message_.c_str(),
                   percent_of(received_, total_length_));
}

void ResumableDownloader::set_last_message(const char* message) {
    last_message_ = copy_of(message);
}

bool ResumableDownloader::Download() {
    if (initialised_ == 0) {
        set_last_message(kNotInitialised);
        report_finish();
        return false;
    }
    if (busy_ != 0) {
        // Called from a report of the transfer that runs: this caller hears
        // why, and that transfer keeps its own outcome.
        rt::Text running = static_cast<rt::Text&&>(last_message_);
        set_last_message(kBusy);
        report_finish();
        last_message_ = static_cast<rt::Text&&>(running);
        return false;
    }
    LocalFile file;
    if (!file.open(save_path_.c_str())) {
        set_last_message(kCannotOpen);
        report_finish();
        return false;
    }
    if (file.length() > kLargest) {
        set_last_message(kTooLarge);
        report_finish();
        return false;
    }
    int64_t start = file.length();
    received_ = static_cast<int32_t>(start);
    busy_ = 1;
    last_message_.reset();
    abort_flag_ = 0;
    file_ = &file;

    bool started_over = false;
    for (;;) {
        Step step = send_request(start);
        if (step == Step::Next)
            step = take_reply(start);
        if (step == Step::StartOver) {
            // The local file is no prefix of the resource: once per
            // transfer it is emptied and fetched from its first byte.
            if (started_over) {
                set_last_message(kLengthMismatch);
                break;
            }
            started_over = true;
            if (!file.truncate()) {
                set_last_message(kCannotWrite);
                break;
            }
            start = 0;
            received_ = 0;
            total_length_ = 0;
            continue;
        }
        if (step == Step::Finish || abort_flag_ != 0)
            break;
    }

    file.close();
    file_ = nullptr;
    report_finish();
    clear_state();
    const bool done = same_text(last_message_.c_str(), kDone);
    if (reset_pending_ != 0)
        Reset();
    return done;
}

ResumableDownloader::Step ResumableDownloader::send_request(int64_t start) {
    rt::TextLine<> range;
    range << "bytes=" << start << "-" << start + chunk_size_ - 1;
    if (!request_.open("GET", address_.c_str(), true)) {
        set_last_message(kConnectionFailed);
        return Step::Finish;
    }
    request_.set_request_header("Referer", referer_.c_str());
    request_.set_request_header("Accept", "*/*");
    request_.set_request_header("User-Agent", "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)");
    request_.set_request_header("Range", range.c_str());
    request_.set_request_header("Content-Type", "application/octet-stream");
    request_.set_request_header("Pragma", "no-cache");
    request_.set_request_header("Cache-Control", "no-cache");
    if (!request_.send()) {
        set_last_message(kConnectionFailed);
        return Step::Finish;
    }
    clock_.start();
    while (request_.ready_state() != 4) {
        if (clock_.elapsed() > request_time_limit_) {
            request_.abort();
            set_last_message(kTimeOut);
            return Step::Finish;
        }
        if (abort_flag_ != 0) {
            set_last_message(kUserAbort);
            return Step::Finish;
        }
        request_.wait_for_response(1000);
    }
    return Step::Next;
}

ResumableDownloader::Step ResumableDownloader::take_reply(int64_t& start) {
    const int32_t status = request_.status();
    if (status <= 0) {
        // No reply at all: refused, dropped, or cut short.
        set_last_message(kConnectionFailed);
        return Step::Finish;
    }
    if (status > 299 && status != 416) {
        rt::Text reason = request_.status_text();
        set_last_message(reason.c_str());
        return Step::Finish;
    }
    if (status != 206 && status != 416) {
        set_last_message(kNoRanges);
        return Step::Finish;
    }
    if (status == 416) {
        // Complete only when the resource is exactly what the file holds.
        rt::Text value = request_.get_response_header("Content-Range");
        ContentRange range;
        if (parse_content_range(value.c_str(), range) && !range.has_range && range.has_total &&
            range.total == start && (total_length_ == 0 || range.total == total_length_)) {
            total_length_ = static_cast<int32_t>(range.total);
            set_last_message(kDone);
            return Step::Finish;
        }
        return Step::StartOver;
    }
    return take_partial(start);
}

ResumableDownloader::Step ResumableDownloader::take_partial(int64_t& start) {
    rt::Text value = request_.get_response_header("Content-Range");
    if (value.empty()) {
        set_last_message(kLengthUnknown);
        return Step::Finish;
    }
    ContentRange range;
    if (!parse_content_range(value.c_str(), range) || !range.has_range) {
        set_last_message(kBadRange);
        return Step::Finish;
    }
    if (!range.has_total) {
        set_last_message(kLengthUnknown);
        return Step::Finish;
    }
    if (range.total > kLargest) {
        set_last_message(kTooLarge);
        return Step::Finish;
    }
    if (total_length_ != 0 && range.total != total_length_) {
        set_last_message(kLengthChanged);
        return Step::Finish;
    }
    if (range.first != start || range.last < range.first || range.last >= range.total) {
        set_last_message(kBadRange);
        return Step::Finish;
    }
    rt::Bytes body = request_.response_body();
    if (static_cast<int64_t>(body.count()) != range.last - range.first + 1) {
        set_last_message(kBadRange);
        return Step::Finish;
    }
    if (!file_->append(body)) {
        set_last_message(kCannotWrite);
        return Step::Finish;
    }
    body.reset();

    total_length_ = static_cast<int32_t>(range.total);
    received_ = static_cast<int32_t>(range.last + 1);
    start = range.last + 1;
    const int64_t elapsed = clock_.elapsed();
    const int32_t speed = elapsed == 0 ? 0
                                       : static_cast<int32_t>(static_cast<double>(chunk_size_) /
                                                              1.024 / static_cast<double>(elapsed));
    if (progress_report_ != nullptr)
        progress_report_(save_path_.c_str(), total_length_, speed,
                         percent_of(received_, total_length_));
    if (total_length_ == received_) {
        set_last_message(kDone);
        return Step::Finish;
    }
    return Step::Next;
}

}  // namespace updater
