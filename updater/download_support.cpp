#include "updater/download_support.h"

#include "rt/array.h"
#include "rt/files.h"

namespace updater {

bool LocalFile::open(const char* path) {
    close();
    if (!rt::file_exists(path)) {
        // Created empty, as opening for writing does.
        rt::Bytes nothing = rt::Bytes::of_size(0);
        if (!rt::write_file(path, nothing))
            return false;
    }
    const int64_t size = rt::file_size(path);
    if (size < 0)
        return false;  // a folder
    path_ = rt::Text::copy(path);
    length_ = size;
    return true;
}

bool LocalFile::append(const rt::Bytes& bytes) {
    if (path_.empty())
        return false;
    if (bytes.count() == 0)
        return true;
    const uint64_t grown = static_cast<uint64_t>(length_) + bytes.count();
    if (grown > 0x7fffffffu)
        return false;
    // The runtime refuses the chunk when the file no longer has the length
    // this transfer knows (someone else changed it): adding to it would put
    // the chunk at the wrong place.
    if (!rt::append_file(path_.c_str(), bytes, static_cast<int32_t>(length_)))
        return false;
    length_ = static_cast<int64_t>(grown);
    return true;
}

bool LocalFile::truncate() {
    if (path_.empty())
        return false;
    rt::Bytes nothing = rt::Bytes::of_size(0);
    if (!rt::write_file(path_.c_str(), nothing))
        return false;
    length_ = 0;
    return true;
}

void LocalFile::close() {
    path_.reset();
    length_ = 0;
}

}  // namespace updater
