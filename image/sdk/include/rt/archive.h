// ZIP archives through the eCompress library; the program's description
// lists it ("library eCompress"). Paths are GBK; a backslash separates
// folders on every system.
#pragma once

#include <stdint.h>

#include "rt/args.h"
#include "rt/markers.h"
#include "rt/slots.h"

namespace rt {

// Packs `file` into a new ZIP archive `archive` (replaced when it exists)
// that holds it under its bare name, with its last-write time.
inline bool zip_file(const char* file, const char* archive) {
    auto block = arguments(text(file), text(archive));
    return rt_library_command(RT_LIBRARY(eCompress), RT_ECOMPRESS_PACK_FILE, block.get()) != 0;
}

// Unpacks every entry of `archive` into `folder` (made when missing), each
// with its time. An archive with an entry that is not a plain file name is
// refused whole: nothing is written and the result is false.
inline bool unzip(const char* archive, const char* folder) {
    auto block = arguments(text(archive), text(folder));
    return rt_library_command(RT_LIBRARY(eCompress), RT_ECOMPRESS_UNPACK, block.get()) != 0;
}

}  // namespace rt
