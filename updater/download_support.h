// What the downloader needs of the system beyond the HTTP request object: a
// local file that grows by appended chunks, and the time a request has run,
// over the runtime's append command (the file opened, added to and closed
// within one call, so nothing stays open between chunks) and its steady
// millisecond clock.
//
// Freestanding: for program images.
#pragma once

#include <stdint.h>

#include "rt/array.h"
#include "rt/process.h"
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
    // (or no longer has the length this transfer knows of).
    bool append(const rt::Bytes& bytes);
    // Empties the file.
    bool truncate();
    void close();

  private:
    rt::Text path_;
    int64_t length_ = 0;
};

// The running time of one request, from the runtime's steady clock.
class RequestClock {
  public:
    void start() { started_ = rt::milliseconds(); }
    // Milliseconds since start().
    int64_t elapsed() const { return rt::milliseconds() - started_; }

  private:
    int64_t started_ = 0;
};

}  // namespace updater
