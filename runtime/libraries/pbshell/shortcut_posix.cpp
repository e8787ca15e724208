#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "base/encoding.h"
#include "runtime/libraries/pbshell/shell_link.h"
#include "runtime/libraries/pbshell/shortcut.h"

namespace pbshell {

namespace {

std::optional<std::u16string> gbk_to_utf16(const std::string& gbk) {
    if (gbk.empty())
        return std::u16string();
    iconv_t converter = iconv_open("UTF-16LE", "GBK");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in(gbk);
    std::string out(gbk.size() * 2 + 2, '\0');  // a GBK byte gives at most one UTF-16 unit
    char* in_at = in.data();
    size_t in_left = in.size();
    char* out_at = out.data();
    size_t out_left = out.size();
    const size_t result = iconv(converter, &in_at, &in_left, &out_at, &out_left);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1) || in_left != 0)
        return std::nullopt;
    const size_t bytes = out.size() - out_left;
    std::u16string units(bytes / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<uint8_t>(out[2 * i]) |
                                         static_cast<uint8_t>(out[2 * i + 1]) << 8);
    return units;
}

// A Windows path: '/' is never part of a GBK double-byte character, so it
// can be replaced byte by byte.
std::string windows_path(std::string gbk) {
    for (char& c : gbk)
        if (c == '/')
            c = '\\';
    return gbk;
}

bool write_all(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool replace_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    static std::atomic<unsigned> counter{0};
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty())
        return false;
    const std::string temporary = folder + "." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(counter++);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = write_all(fd, bytes);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool write_shortcut(const std::string& path, const std::string& target, const std::string& comment,
                    const std::string& working_folder) {
    if (path.empty() || target.empty())
        return false;
    std::optional<std::string> file = base::gbk_to_utf8(path);
    if (!file)
        return false;
    for (char& c : *file)
        if (c == '\\')
            c = '/';

    ShellLinkContent content;
    content.target_ansi = windows_path(target);
    auto target16 = gbk_to_utf16(content.target_ansi);
    auto description16 = gbk_to_utf16(comment);
    auto folder16 = gbk_to_utf16(windows_path(working_folder));
    if (!target16 || !description16 || !folder16)
        return false;
    content.target = std::move(*target16);
    content.description = std::move(*description16);
    content.working_folder = std::move(*folder16);
    auto bytes = build_shell_link(content);
    return bytes && replace_file(*file, *bytes);
}

}  // namespace pbshell
