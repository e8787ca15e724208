#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/automation/transcript.h"

namespace automation {

bool transcript_enabled() {
    const char* path = std::getenv(kTranscriptVariable);
    return path != nullptr && *path != '\0';
}

void append_transcript_line(std::string_view line) {
    if (!transcript_enabled())
        return;
    int fd =
        open(std::getenv(kTranscriptVariable), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    // One write per line, so lines of concurrent processes do not interleave.
    std::string record(line);
    record += '\n';
    [[maybe_unused]] ssize_t written = write(fd, record.data(), record.size());
    close(fd);
}

}  // namespace automation
