// A file that the system keeps whatever a program asks: immutable where
// that can be set (as root), else in a folder that cannot be written. The
// file is written with `content`; all is undone when the object goes.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace files_test {

class KeptFile {
  public:
    explicit KeptFile(const std::filesystem::path& path, const std::string& content = "kept")
        : path_(path) {
        std::ofstream(path, std::ios::binary) << content;
        immutable_ = set_immutable(true);
        if (!immutable_ && geteuid() != 0) {
            chmod(path.parent_path().c_str(), 0555);
            read_only_folder_ = true;
        }
    }
    ~KeptFile() {
        if (immutable_)
            set_immutable(false);
        if (read_only_folder_)
            chmod(path_.parent_path().c_str(), 0755);
    }
    KeptFile(const KeptFile&) = delete;
    KeptFile& operator=(const KeptFile&) = delete;
    bool works() const { return immutable_ || read_only_folder_; }

  private:
    bool set_immutable(bool on) const {
        const int fd = open(path_.c_str(), O_RDONLY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        close(fd);
        return done;
    }

    std::filesystem::path path_;
    bool immutable_ = false;
    bool read_only_folder_ = false;
};

}  // namespace files_test
