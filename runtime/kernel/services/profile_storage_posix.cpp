#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>

#include "runtime/kernel/services/profile_storage.h"

namespace kernel {

namespace {

using base::fail;

FileStamp stamp_of(const struct stat& st) {
    FileStamp stamp;
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.write_time = int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
    stamp.change_time = int64_t{st.st_ctim.tv_sec} * 1'000'000'000 + st.st_ctim.tv_nsec;
    stamp.identity = static_cast<uint64_t>(st.st_ino) ^ (static_cast<uint64_t>(st.st_dev) << 40);
    return stamp;
}

base::Error::Cause error_of(int error) {
    return error == ENOENT || error == ENOTDIR ? base::Error::FileNotFound
                                               : base::Error::FileFailed;
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

}  // namespace

base::Result<FileStamp> stamp_file(const SystemPath& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return fail(error_of(errno));
    if (!S_ISREG(st.st_mode))
        return fail(S_ISDIR(st.st_mode) ? base::Error::FileNotFound : base::Error::FileFailed);
    return stamp_of(st);
}

base::Result<StoredFile> read_stored_file(const SystemPath& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(error_of(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > kMaxProfileFileSize) {
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        return fail(folder ? base::Error::FileNotFound : base::Error::FileFailed);
    }
    StoredFile file;
    file.stamp = stamp_of(st);
    file.bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < file.bytes.size()) {
        const ssize_t got = ::read(fd, file.bytes.data() + done, file.bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    ::close(fd);
    if (done != file.bytes.size())
        return fail(base::Error::FileFailed);  // changed while read: the caller tries again later
    return file;
}

base::Result<FileStamp> replace_stored_file(const SystemPath& path, std::string_view bytes) {
    // A link is written through: the file it names is replaced, the link
    // stays.
    SystemPath target = path;
    struct stat st;
    bool exists = ::lstat(path.c_str(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) == nullptr)
            return fail(base::Error::FileFailed);
        target = resolved;
        exists = ::stat(target.c_str(), &st) == 0;
    }
    // A file without write permission is refused, also for the superuser, as
    // Windows refuses one with the read-only attribute.
    if (exists &&
        (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0))
        return fail(base::Error::FileFailed);

    static std::atomic<uint32_t> counter{0};
    const size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = folder + "." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter.fetch_add(1));
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return fail(error_of(errno));
    }
    if (fd < 0)
        return fail(base::Error::FileFailed);
    bool ok = write_all(fd, bytes);
    if (ok && exists)
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return fail(base::Error::FileFailed);
    }
    return stamp_file(target);
}

int64_t storage_now() {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

int64_t storage_racy_window() {
    return 100'000'000;  // 100 ms: well above the kernel's clock tick
}

}  // namespace kernel
