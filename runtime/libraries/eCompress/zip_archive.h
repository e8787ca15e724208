// ZIP archives of single files, and unpacking archives into a folder.
//
// Packing stores one file under its bare name, deflated, with its last-write
// time as the DOS time (local, two-second steps) and, to the second in UTC,
// in an extended timestamp field. The archive is written beside its target
// and renamed over it once complete.
//
// Unpacking first judges what the archive's directory and headers say
// without writing anything (archive_check.h: names, methods, declared sizes
// and limits, where each entry's data lies), and refuses the archive when an
// entry names a folder that is there. Then every entry is inflated once into
// a temporary file beside its target, its data checked as it comes against
// its declared size and CRC; the first entry that fails removes every
// temporary (and the folders made for them), and only when all of them are
// sound are they renamed into place. Each written file gets the entry's
// time: the extended timestamp when present, else the DOS time read as local
// time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/error_or.h"

namespace ecompress {

// Why a command failed, for the transcript.
struct Problem {
    std::string entry;  // the entry's name as stored (may be empty)
    std::string why;
};

template <typename T>
using Result = base::ErrorOr<T, Problem>;

// `file` and `archive` are GBK paths.
Result<void> pack_file(std::string_view file, std::string_view archive);
// `archive` and `folder` are GBK paths; the folder is made when missing.
Result<void> unpack(std::string_view archive, std::string_view folder);

// The bare name at the end of a GBK path (after its last '\' or '/').
std::string_view bare_name_of(std::string_view gbk_path);
// Whether a GBK name may be written as a file of the destination folder on
// every system (see above).
bool is_plain_name(std::string_view gbk_name);

}  // namespace ecompress
