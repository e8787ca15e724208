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

bool LocalFile::append(const uint8_t* bytes, uint32_t count) {
    if (path_.empty())
        return false;
    if (count == 0)
        return true;
    rt::Bytes old = rt::read_file(path_.c_str());
    // Someone else changed the file meanwhile, or it cannot be read: adding
    // to it would put the chunk at the wrong place.
    if (static_cast<int64_t>(old.count()) != length_)
        return false;
    const uint64_t grown = static_cast<uint64_t>(length_) + count;
    if (grown > 0x7fffffffu)
        return false;
    rt::Bytes whole = rt::Bytes::of_size(static_cast<uint32_t>(grown));
    uint8_t* out = whole.elements();
    const uint8_t* kept = old.elements();
    for (uint32_t i = 0; i < old.count(); ++i)
        out[i] = kept[i];
    for (uint32_t i = 0; i < count; ++i)
        out[old.count() + i] = bytes[i];
    old.reset();
    if (!rt::write_file(path_.c_str(), whole))
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
