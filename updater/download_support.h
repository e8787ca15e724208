// What the downloader needs of the system beyond the HTTP request object: a
// local file that grows by appended chunks, and the time a request has run.
// Both are made here from what the SDK offers today (whole-file reads and
// replacing writes; the request object's one-second waits), behind the two
// small classes the downloader uses, so that a file opened for appending
// and a millisecond clock can take their place without touching it.
//
// Freestanding: for program images.
#pragma once

#include <stdint.h>

#include "rt/text.h"

namespace updater {

// The local file of one transfer.
class LocalFile {
  public:
    LocalFile() = default;
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // Opens `path` for writing: created (empty) when missing, content kept
    // when present. False for a folder or a file that cannot be created.
    bool open(const char* path);
    // The file's length in bytes.
    int64_t length() const { return length_; }
    // Adds the bytes at the end. The file holds its old content or the
    // whole new one, never part of a chunk; false when it cannot be written
    // (or no longer holds what this transfer knows of it).
    bool append(const uint8_t* bytes, uint32_t count);
    // Empties the file.
    bool truncate();
    void close();

  private:
    rt::Text path_;
    int64_t length_ = 0;
};

// The running time of one request. Without a system clock in the SDK the
// request object's waits are counted: each wait that the object ends with
// the request still running has taken its full step, since both runtimes
// come back early only when the request has ended. Time limits are thereby
// seen to the step; a speed derived from this time is a lower bound.
class RequestClock {
  public:
    static constexpr int32_t kWaitStepMilliseconds = 1000;

    void start() { waits_ = 0; }
    // One wait of the request object has come back.
    void waited() { ++waits_; }
    // Milliseconds since start().
    int64_t elapsed() const { return static_cast<int64_t>(waits_) * kWaitStepMilliseconds; }

  private:
    int32_t waits_ = 0;
};

}  // namespace updater
