#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

#include "base/encoding.h"
#include "runtime/libraries/eCompress/system.h"

namespace ecompress {

std::optional<NativePath> native_path(std::string_view gbk) {
    auto utf8 = base::gbk_to_utf8(gbk);
    if (!utf8)
        return std::nullopt;
    // UTF-8 never has 0x5C inside a character: every backslash left is a separator.
    for (char& c : *utf8) {
        if (c == '\\')
            c = '/';
    }
    return utf8;
}

NativePath join(const NativePath& folder, const NativePath& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

NativePath parent_of(const NativePath& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == NativePath::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

void fill_file_functions(zlib_filefunc64_def* functions) {
    fill_fopen64_filefunc(functions);
}

std::optional<FileFacts> regular_file(const NativePath& path) {
    struct stat facts;
    if (stat(path.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode))
        return std::nullopt;
    return FileFacts{static_cast<int64_t>(facts.st_mtim.tv_sec),
                     static_cast<uint64_t>(facts.st_size)};
}

bool is_folder(const NativePath& path) {
    struct stat facts;
    return stat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
}

bool make_folders(const NativePath& path, std::vector<NativePath>& made) {
    struct stat facts;
    if (stat(path.c_str(), &facts) == 0)
        return S_ISDIR(facts.st_mode);
    const NativePath parent = parent_of(path);
    if (parent != path && parent != "." && parent != "/" && !make_folders(parent, made))
        return false;
    if (mkdir(path.c_str(), 0777) == 0) {
        made.push_back(path);
        return true;
    }
    return errno == EEXIST;
}

bool remove_empty_folder(const NativePath& path) {
    return rmdir(path.c_str()) == 0;
}

namespace {

class PosixInput final : public InputFile {
  public:
    explicit PosixInput(int fd) : fd_(fd) {}
    ~PosixInput() override { ::close(fd_); }
    int64_t read(void* buffer, size_t size) override {
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, size);
            if (got >= 0 || errno != EINTR)
                return got;
        }
    }

  private:
    int fd_;
};

class PosixSource final : public ArchiveSource {
  public:
    PosixSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~PosixSource() override { ::close(fd_); }
    uint64_t size() const override { return size_; }
    bool read_at(uint64_t offset, void* buffer, size_t size) const override {
        auto* at = static_cast<char*>(buffer);
        while (size > 0) {
            const ssize_t got = ::pread(fd_, at, size, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            at += got;
            offset += static_cast<uint64_t>(got);
            size -= static_cast<size_t>(got);
        }
        return true;
    }

  private:
    int fd_;
    uint64_t size_;
};

class PosixPending final : public PendingFile {
  public:
    PosixPending(int fd, NativePath path, NativePath target)
        : fd_(fd), path_(std::move(path)), target_(std::move(target)) {}
    ~PosixPending() override {
        close();
        if (!committed_)
            unlink(path_.c_str());
    }
    const NativePath& path() const override { return path_; }
    bool write(const void* data, size_t size) override {
        const auto* at = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t put = ::write(fd_, at, size);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            at += put;
            size -= static_cast<size_t>(put);
        }
        return true;
    }
    bool close() override {
        if (fd_ < 0)
            return true;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }
    bool set_last_write(int64_t unix_seconds) override {
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(unix_seconds), 0}};
        return utimensat(AT_FDCWD, path_.c_str(), times, 0) == 0;
    }
    bool commit() override {
        if (!close() || rename(path_.c_str(), target_.c_str()) != 0)
            return false;
        committed_ = true;
        return true;
    }

  private:
    int fd_;
    NativePath path_;
    NativePath target_;
    bool committed_ = false;
};

std::atomic<unsigned> pending_counter{0};

}  // namespace

std::unique_ptr<InputFile> InputFile::open(const NativePath& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::make_unique<PosixInput>(fd);
}

std::unique_ptr<ArchiveSource> open_file_source(const NativePath& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat facts;
    if (fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixSource>(fd, static_cast<uint64_t>(facts.st_size));
}

std::unique_ptr<PendingFile> PendingFile::create_beside(const NativePath& target) {
    const NativePath folder = parent_of(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const NativePath path =
            join(folder, ".ecompress-" + std::to_string(getpid()) + "-" +
                             std::to_string(pending_counter.fetch_add(1)) + ".tmp");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return std::make_unique<PosixPending>(fd, path, target);
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

std::optional<LocalTime> to_local_time(int64_t unix_seconds) {
    const time_t t = static_cast<time_t>(unix_seconds);
    tm parts;
    if (localtime_r(&t, &parts) == nullptr)
        return std::nullopt;
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::optional<int64_t> from_local_time(const LocalTime& time) {
    tm parts{};
    parts.tm_year = time.year - 1900;
    parts.tm_mon = time.month - 1;
    parts.tm_mday = time.day;
    parts.tm_hour = time.hour;
    parts.tm_min = time.minute;
    parts.tm_sec = time.second;
    parts.tm_isdst = -1;
    const time_t t = mktime(&parts);
    if (t == static_cast<time_t>(-1))
        return std::nullopt;
    return static_cast<int64_t>(t);
}

}  // namespace ecompress
