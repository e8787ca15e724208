#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/automation/transcript.h"
#include "base/encoding.h"
#include "base/executable/elf64.h"
#include "base/executable/image_section.h"
#include "loader/package/reader.h"
#include "loader/stub/os.h"

namespace loader::os {

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

bool read_fully(int fd, uint64_t offset, std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size()) {
        ssize_t got =
            pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

bool write_fully(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

class PosixFile final : public ReadOnlyFile {
  public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override {
        if (mapping_ != nullptr)
            munmap(mapping_, mapped_size_);
    }
    std::optional<uint64_t> size() override {
        struct stat st;
        if (fstat(fd_.get(), &st) != 0)
            return std::nullopt;
        return static_cast<uint64_t>(st.st_size);
    }
    bool read_at(uint64_t offset, std::span<uint8_t> out) override {
        return read_fully(fd_.get(), offset, out);
    }
    std::optional<std::span<const uint8_t>> map() override {
        if (mapping_ == nullptr) {
            auto file_size = size();
            if (!file_size || *file_size == 0)
                return std::nullopt;
            void* mapping = mmap(nullptr, *file_size, PROT_READ, MAP_PRIVATE, fd_.get(), 0);
            if (mapping == MAP_FAILED)
                return std::nullopt;
            mapping_ = mapping;
            mapped_size_ = *file_size;
        }
        return std::span<const uint8_t>(static_cast<const uint8_t*>(mapping_), mapped_size_);
    }

  private:
    FileDescriptor fd_;
    void* mapping_ = nullptr;
    size_t mapped_size_ = 0;
};

// Owned by this user, not writable by group or others.
bool is_trusted(const struct stat& st) {
    return st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool same_content(int fd, std::span<const uint8_t> content) {
    uint8_t chunk[65536];
    size_t offset = 0;
    while (offset < content.size()) {
        size_t want = std::min(sizeof chunk, content.size() - offset);
        if (!read_fully(fd, offset, {chunk, want}) ||
            std::memcmp(chunk, content.data() + offset, want) != 0)
            return false;
        offset += want;
    }
    return true;
}

Path temporary_sibling(const Path& path) {
    static std::atomic<unsigned> counter{0};
    Path folder = path.substr(0, path.rfind('/') + 1);
    char name[64];
    std::snprintf(name, sizeof name, "%.*stmp-%d-%u", static_cast<int>(kReservedPrefix.size()),
                  kReservedPrefix.data(), static_cast<int>(getpid()), counter++);
    return folder + name;
}

}  // namespace

std::optional<Path> own_executable() {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
        return std::nullopt;
    return Path(buffer, static_cast<size_t>(length));
}

std::unique_ptr<ReadOnlyFile> open_read_only(const Path& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::make_unique<PosixFile>(fd);
}

std::optional<Path> temp_folder() {
    const char* configured = std::getenv("TMPDIR");
    Path folder = (configured != nullptr && configured[0] == '/') ? configured : "/tmp";
    if (folder.back() != '/')
        folder.push_back('/');
    if (folder.size() >= PATH_MAX)
        return std::nullopt;
    return folder;
}

std::optional<Path> join(const Path& folder, std::string_view ansi_name) {
    auto name = base::gbk_to_utf8(ansi_name);
    if (!name || name->size() > NAME_MAX || folder.size() + name->size() >= PATH_MAX)
        return std::nullopt;
    return folder + *name;
}

bool prepare_private_folder(const Path& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && is_trusted(st);
}

std::optional<FileIdentity> identify_trusted_file(const Path& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !is_trusted(st))
        return std::nullopt;
    uint64_t modified = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ull +
                        static_cast<uint64_t>(st.st_mtim.tv_nsec);
    return FileIdentity{static_cast<uint64_t>(st.st_size), modified,
                        static_cast<uint64_t>(st.st_ino)};
}

InstallResult install_file(const Path& path, std::span<const uint8_t> content) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || !is_trusted(st))
            return InstallResult::Failed;
        if (static_cast<uint64_t>(st.st_size) == content.size()) {
            FileDescriptor present(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
            if (present.valid() && same_content(present.get(), content))
                return InstallResult::Unchanged;
        }
    } else if (errno != ENOENT) {
        return InstallResult::Failed;
    }

    // Never rewrite in place: a running instance may have the file mapped.
    Path temporary = temporary_sibling(path);
    FileDescriptor out(
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700));
    if (!out.valid())
        return InstallResult::Failed;
    bool written = write_fully(out.get(), content);
    written = close(out.release()) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return InstallResult::Failed;
    }
    return InstallResult::Written;
}

std::optional<std::vector<uint8_t>> read_trusted_file(const Path& path, size_t max_size) {
    FileDescriptor fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !is_trusted(st) ||
        static_cast<uint64_t>(st.st_size) > max_size)
        return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    if (!read_fully(fd.get(), 0, bytes))
        return std::nullopt;
    return bytes;
}

void* load_library(const Path& path) {
    if (path.empty() || path.front() != '/')
        return nullptr;
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* find_export(void* library, const char* name) {
    return dlsym(library, name);
}

const void* find_program_image(ReadOnlyFile& own_file) {
    auto size = own_file.size();
    if (!size)
        return nullptr;
    auto read = [&](uint64_t offset, std::span<uint8_t> out) {
        return own_file.read_at(offset, out);
    };
    auto section = elf64::find_section(read, *size, kImageSectionName);
    if (!section || section->size == 0 || section->size > (1ull << 31))
        return nullptr;
    // The image lives for the whole process, as a loaded section would.
    static void* image = nullptr;
    std::free(image);
    image = std::aligned_alloc(4096, (section->size + 4095) & ~uint64_t{4095});
    if (image == nullptr)
        return nullptr;
    if (!own_file.read_at(section->offset, {static_cast<uint8_t*>(image), section->size})) {
        std::free(image);
        image = nullptr;
        return nullptr;
    }
    return image;
}

void report_failure(const char* message) {
    std::fprintf(stderr, "Error: %s\n", message);
    automation::append_transcript_line(
        automation::message_box_line("Error", "error", "ok", message));
}

}  // namespace loader::os
