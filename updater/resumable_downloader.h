// ResumableDownloader: fetches one address into one local file in ranged
// chunks, each a GET of its own with a "Range" header, appending each chunk
// and starting from the local file's length, so that a transfer cut short
// resumes where it stopped. A progress report follows every chunk and a
// finish report ends every transfer; the result of Download() is true only
// for "下载完毕".
//
//   updater::ResumableDownloader downloader;
//   downloader.Init(on_progress, on_finish);      // only the first call counts
//   downloader.SetSavePath("D:\\游戏\\update\\temp\\up.dat.zip");
//   downloader.SetUrl("http://host/update/up.dat.zip", "");
//   downloader.Download();
//
// Each request asks for `chunk size` bytes (10240 unless SetChunkSize) and
// may run chunk size x 10 milliseconds. The downloader waits for it with
// waitForResponse(1000), looking at the time limit and the abort flag
// between the waits.
//
// Stricter than appending whatever comes back:
// - A 206 reply is written only when its "Content-Range" is whole and
//   sound: it starts at the byte asked for, its last byte is not before its
//   first and lies inside the resource, the body is exactly the range, and
//   the total is a number, below 2 GB, and the same in every reply of the
//   transfer. Any other 206 ends the transfer with a failure, that reply
//   not written, so the file stays a correct prefix that a later transfer
//   resumes.
// - A 416 is complete only when the resource's length ("bytes */N") is the
//   local file's; otherwise the local file is not a prefix of the resource
//   (a stale or longer file) and the transfer starts over from byte 0, once.
// - A 200 to a range request is refused without writing, at any start: its
//   body is the whole resource, which a chunk's bound does not cover.
// - A request that ends without a reply (connection refused or dropped) is
//   a connection failure, not a server without ranges.
// - Counters stay 32-bit: a resource or local file of 2 GB or more ends the
//   transfer with a failure before anything is written.
//
// Freestanding: for program images.
#pragma once

#include <stdint.h>

#include "rt/http_request.h"
#include "rt/text.h"
#include "updater/download_support.h"

namespace updater {

class ResumableDownloader {
  public:
    // After every chunk: (save path, total length, speed in KB/s, percent).
    using ProgressReport = void (*)(const char* save_path, int32_t total_length, int32_t speed,
                                    int32_t percent);
    // Once at the end of a transfer: (address, HTTP status, last message,
    // percent).
    using FinishReport = void (*)(const char* address, int32_t status, const char* message,
                                  int32_t percent);

    static constexpr int32_t kDefaultChunkSize = 10240;

    ResumableDownloader() = default;
    // Two holders of one request object would both release it.
    ResumableDownloader(const ResumableDownloader&) = delete;
    ResumableDownloader& operator=(const ResumableDownloader&) = delete;
    ~ResumableDownloader() { Reset(); }

    // Aborts a transfer, releases the request object and forgets every
    // setting. Called from a report, the release waits until the transfer
    // has ended (the object is still in use).
    void Reset();
    // Creates the request object and takes the handlers; false when already
    // initialised, busy, or the system has no request object.
    bool Init(ProgressReport progress_report, FinishReport finish_report);
    // Kilobytes per request (0 means 4); only when initialised and idle.
    void SetChunkSize(uint8_t kilobytes);
    // Only when initialised and idle.
    void SetUrl(const char* address, const char* referer);
    // Only when initialised and idle; false otherwise.
    bool SetSavePath(const char* path);
    // One transfer to its end; true exactly when the last message is
    // "下载完毕".
    bool Download();
    // While busy (from a report): ends the transfer after the report.
    void Abort();

    // The outcome of the last transfer; empty while one runs.
    const char* last_message() const { return last_message_.c_str(); }

  private:
    enum class Step { Next, Finish, StartOver };

    void clear_state();
    void report_finish();
    void set_last_message(const char* message);
    // One request for the chunk at `start`, waited for to its end; Finish
    // (with the last message set) when it did not end in time.
    Step send_request(int64_t start);
    // What the reply that has ended means for the transfer.
    Step take_reply(int64_t& start);
    Step take_partial(int64_t& start);

    // Fields, in the order the class has always kept them.
    rt::HttpRequest request_;         // made by Init, used by every request, released by Reset
    int32_t initialised_ = 0;         // 1 after a successful Init
    rt::Text address_;                // address of the next transfer
    rt::Text referer_;                // value of the "Referer" request header
    int32_t request_time_limit_ = 0;  // milliseconds: chunk size x 10
    rt::Text last_message_;           // empty while a transfer runs, then its outcome
    rt::Text save_path_;              // local file of the next transfer
    int32_t busy_ = 0;                // 1 while Download runs
    int32_t received_ = 0;            // bytes of the transfer, the local file's at its start
    ProgressReport progress_report_ = nullptr;
    FinishReport finish_report_ = nullptr;
    int32_t total_length_ = 0;  // the resource's length; 0 until a reply gave it
    int32_t abort_flag_ = 0;    // set by Abort
    int32_t chunk_size_ = 0;    // bytes asked for per request

    // Of the running transfer.
    LocalFile* file_ = nullptr;
    RequestClock clock_;
    int32_t reset_pending_ = 0;  // Reset asked for from a report
};

}  // namespace updater
