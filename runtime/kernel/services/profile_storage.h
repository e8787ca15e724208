// The file operations that profile files need, one implementation per
// system: reading a whole file with the stamp that tells its versions apart,
// and replacing a file through a sibling temporary file and a rename.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/error_or.h"
#include "base/error.h"
#include "runtime/kernel/services/system_path.h"

namespace kernel {

// What tells one version of a file from another without reading it. Times
// are in the system's ticks (nanoseconds on Linux, 100 ns on Windows).
struct FileStamp {
    uint64_t size = 0;
    int64_t write_time = 0;   // last write
    int64_t change_time = 0;  // Linux: last status change; Windows: creation
    uint64_t identity = 0;    // Linux: the inode and device; Windows: 0
    bool operator==(const FileStamp&) const = default;
};

struct StoredFile {
    std::string bytes;
    FileStamp stamp;
};

// Profile files larger than this are refused (read as missing, not written).
inline constexpr uint64_t kMaxProfileFileSize = 256u << 20;

base::Result<FileStamp> stamp_file(const SystemPath& path);
base::Result<StoredFile> read_stored_file(const SystemPath& path);
// Writes `bytes` to a new sibling file and renames it over `path` (created
// when missing; an existing file keeps its permissions). A failure leaves
// the old file as it was. Gives the new file's stamp.
base::Result<FileStamp> replace_stored_file(const SystemPath& path, std::string_view bytes);

// The current time, in the ticks of FileStamp::write_time.
int64_t storage_now();
// How long after its last write a file's stamp may still not tell a newer
// version apart: the coarsest step of the file systems' clocks we count on.
int64_t storage_racy_window();

}  // namespace kernel
