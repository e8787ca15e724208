#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "contract/runtime_abi.h"
#include "runtime/kernel/services/files.h"
#include "runtime/kernel/services/system_path.h"

namespace kernel::files {

namespace {

// The largest file that fits in a byte array block of the runtime's heap.
constexpr uint64_t kMaxFileSize = UINT32_MAX - sizeof(RtArrayHeader) - 1;

// The path without separators at its end ("/" stays), so that lstat sees a
// link itself and not what "link/" resolves to.
std::optional<std::string> entry_path(std::string_view gbk_path) {
    auto path = to_system_path(gbk_path);
    if (!path)
        return std::nullopt;
    while (path->size() > 1 && path->back() == '/')
        path->pop_back();
    return path;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

bool write_all(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// A new file beside `target` for its replacement, opened for writing: its
// name starts with a dot and ".wjrt-tmp-", so it is hidden from listings.
std::optional<std::string> make_sibling_temporary(const std::string& target, int& fd) {
    const size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    // NAME_MAX counts bytes: keep the temporary's name inside it.
    std::string temporary = folder + ".wjrt-tmp-" + name.substr(0, 200) + "-XXXXXX";
    fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    return temporary;
}

// A file that its owner may not write is what Windows calls read-only: it is
// not replaced there, so it is not replaced here either, though the rename
// that replaces a file needs no right on the file itself.
bool read_only(const struct stat& st) {
    return S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

mode_t current_umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Writes what `fill` writes into a sibling temporary file of `target` with
// `mode`, and renames it over `target`.
template <typename Fill>
bool replace_file(const std::string& target, mode_t mode, Fill&& fill) {
    int raw = -1;
    auto temporary = make_sibling_temporary(target, raw);
    if (!temporary)
        return false;
    Descriptor fd(raw);
    bool ok = fill(fd.get()) && ::fchmod(fd.get(), mode) == 0 && ::fsync(fd.get()) == 0;
    ok = ::close(fd.release()) == 0 && ok;
    if (ok && ::rename(temporary->c_str(), target.c_str()) == 0)
        return true;
    ::unlink(temporary->c_str());
    return false;
}

// Removes everything inside the open folder `folder_fd` on the device
// `device`; false when anything stays. Never follows a link: entries are
// looked at with lstat and subfolders opened with O_NOFOLLOW. A folder that
// another file system is mounted on is not entered: it stays.
bool empty_folder(int folder_fd, dev_t device, int depth) {
    // Each level holds one descriptor; a deeper tree fails instead of
    // exhausting them.
    if (depth > 512)
        return false;
    const int list_fd = ::dup(folder_fd);
    if (list_fd < 0)
        return false;
    DIR* listing = ::fdopendir(list_fd);
    if (listing == nullptr) {
        ::close(list_fd);
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    bool all_gone = true;
    for (const std::string& name : names) {
        struct stat st;
        if (::fstatat(folder_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            all_gone = all_gone && errno == ENOENT;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            Descriptor child(
                ::openat(folder_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            const bool emptied = st.st_dev == device && child.get() >= 0 &&
                                 empty_folder(child.get(), device, depth + 1);
            if (!emptied || ::unlinkat(folder_fd, name.c_str(), AT_REMOVEDIR) != 0)
                all_gone = false;
        } else if (::unlinkat(folder_fd, name.c_str(), 0) != 0 && errno != ENOENT) {
            all_gone = false;
        }
    }
    return all_gone;
}

}  // namespace

bool exists(std::string_view gbk_path) {
    auto path = to_system_path(gbk_path);
    struct stat st;
    return path && ::stat(path->c_str(), &st) == 0;
}

bool delete_file(std::string_view gbk_path) {
    auto path = entry_path(gbk_path);
    struct stat st;
    if (!path || ::lstat(path->c_str(), &st) != 0 || S_ISDIR(st.st_mode) || read_only(st))
        return false;
    return ::unlink(path->c_str()) == 0;
}

bool move_file(std::string_view gbk_from, std::string_view gbk_to) {
    auto from = entry_path(gbk_from);
    auto to = entry_path(gbk_to);
    struct stat st;
    if (!from || !to || ::lstat(from->c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // link() refuses an existing target, so nothing there is ever replaced.
    if (::link(from->c_str(), to->c_str()) != 0)
        return false;
    if (::unlink(from->c_str()) != 0) {
        ::unlink(to->c_str());
        return false;
    }
    return true;
}

bool append_file(std::string_view gbk_path, std::span<const uint8_t> bytes,
                 int64_t expected_length) {
    auto path = entry_path(gbk_path);
    if (!path)
        return false;
    Descriptor file(
        ::open(path->c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (expected_length >= 0 && st.st_size != expected_length)
        return false;
    if (write_all(file.get(), bytes.data(), bytes.size()))
        return true;
    // Nothing of a chunk that did not go in whole.
    (void)::ftruncate(file.get(), st.st_size);
    return false;
}

bool delete_folder(std::string_view gbk_path) {
    auto path = entry_path(gbk_path);
    if (!path || *path == "/")
        return false;  // nothing, or the whole file system
    struct stat st;
    if (::lstat(path->c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return false;
    {
        Descriptor folder(::open(path->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder.get() < 0)
            return false;
        empty_folder(folder.get(), st.st_dev, 0);
    }
    ::rmdir(path->c_str());
    return ::lstat(path->c_str(), &st) != 0 && errno == ENOENT;
}

bool create_folder(std::string_view gbk_path) {
    auto path = entry_path(gbk_path);
    if (!path)
        return false;
    // Each missing folder from the top down.
    for (size_t at = path->find('/', 1);; at = path->find('/', at + 1)) {
        const std::string part = path->substr(0, at);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            // A missing parent of a later part fails it in turn; what
            // counts is the whole path at the end.
        }
        if (at == std::string::npos)
            break;
    }
    struct stat st;
    return ::stat(path->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool copy_file(std::string_view gbk_from, std::string_view gbk_to) {
    auto from = to_system_path(gbk_from);
    auto to = entry_path(gbk_to);
    if (!from || !to)
        return false;
    Descriptor source(::open(from->c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (source.get() < 0 || ::fstat(source.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    struct stat target;
    if (::stat(to->c_str(), &target) == 0 && (S_ISDIR(target.st_mode) || read_only(target)))
        return false;
    const mode_t mode = st.st_mode & 0777 & ~current_umask();
    return replace_file(*to, mode, [&](int fd) {
        uint8_t buffer[65536];
        for (;;) {
            const ssize_t got = ::read(source.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return false;
            if (got == 0)
                break;
            if (!write_all(fd, buffer, static_cast<size_t>(got)))
                return false;
        }
        // The copy keeps the last-write time, as copies on Windows do.
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        return ::futimens(fd, times) == 0;
    });
}

std::optional<std::vector<uint8_t>> read_file(std::string_view gbk_path) {
    auto path = to_system_path(gbk_path);
    if (!path)
        return std::nullopt;
    Descriptor fd(::open(path->c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(
        static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), kMaxFileSize)));
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        if (bytes.size() + static_cast<size_t>(got) > kMaxFileSize)
            return std::nullopt;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

bool write_file(std::string_view gbk_path, std::span<const uint8_t> bytes) {
    auto path = entry_path(gbk_path);
    if (!path)
        return false;
    struct stat st;
    mode_t mode = 0666 & ~current_umask();
    if (::stat(path->c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode) || read_only(st))
            return false;
        mode = st.st_mode & 07777;  // a rewritten file keeps its permissions
    }
    return replace_file(*path, mode,
                        [&](int fd) { return write_all(fd, bytes.data(), bytes.size()); });
}

std::optional<int64_t> last_write_seconds(std::string_view gbk_path) {
    auto path = to_system_path(gbk_path);
    struct stat st;
    if (!path || ::stat(path->c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<int64_t>(st.st_mtim.tv_sec);
}

int64_t file_size(std::string_view gbk_path) {
    auto path = to_system_path(gbk_path);
    struct stat st;
    if (!path || ::stat(path->c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace kernel::files
