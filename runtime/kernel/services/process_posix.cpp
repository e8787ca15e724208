#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "base/encoding.h"
#include "runtime/kernel/services/process.h"
#include "runtime/kernel/services/system_path.h"

extern char** environ;

namespace kernel::process {

namespace {

bool is_executable_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> own_executable() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return std::nullopt;
    path.resize(static_cast<size_t>(length));
    return path;
}

// The file a program name of a command line stands for, looked for where
// Windows looks: a name with a folder as it is; a bare name beside the
// running executable, in the current folder, then along PATH. A bare name
// without an extension may also be found with ".exe" after it.
std::optional<std::string> find_program(const std::string& program) {
    if (program.find('/') != std::string::npos)
        return is_executable_file(program) ? std::optional(program) : std::nullopt;
    std::vector<std::string> folders;
    if (auto own = own_executable())
        folders.push_back(parent_of(*own));
    folders.push_back(".");
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest = path;
        while (!rest.empty()) {
            const size_t colon = rest.find(':');
            const std::string_view folder = rest.substr(0, colon);
            if (!folder.empty())
                folders.emplace_back(folder);
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    std::vector<std::string> names = {program};
    if (program.find('.') == std::string::npos)
        names.push_back(program + ".exe");
    for (const std::string& name : names) {
        for (const std::string& folder : folders) {
            const std::string candidate = folder + "/" + name;
            if (is_executable_file(candidate))
                return candidate;
        }
    }
    return std::nullopt;
}

// Processes started without waiting: reaped at the next start, so that
// finished ones do not linger as zombies while the program runs on.
std::vector<pid_t>& unwaited() {
    static std::vector<pid_t> pids;
    return pids;
}

void reap_finished() {
    auto& pids = unwaited();
    std::erase_if(pids, [](pid_t pid) {
        int status = 0;
        return ::waitpid(pid, &status, WNOHANG) != 0;
    });
}

std::optional<std::string> gbk_folder(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return from_system_path(path);
}

// XDG_DESKTOP_DIR from the user's user-dirs.dirs: "$HOME/..." or an absolute
// path, in double quotes.
std::optional<std::string> xdg_desktop(const std::string& home) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string file =
        (config != nullptr && config[0] == '/' ? std::string(config) : home + "/.config") +
        "/user-dirs.dirs";
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DESKTOP_DIR=\"";
        if (line.rfind(key, 0) != 0)
            continue;
        const size_t end = line.rfind('"');
        if (end < key.size())
            return std::nullopt;
        std::string value = line.substr(key.size(), end - key.size());
        if (value.rfind("$HOME", 0) == 0)
            value = home + value.substr(5);
        if (value.empty() || value[0] != '/')
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

}  // namespace

int32_t run(std::string_view gbk_command_line, bool wait) {
    reap_finished();
    const std::vector<std::string> words = split_command_line(gbk_command_line);
    if (words.empty())
        return -1;
    auto program_path = to_system_path(words[0]);
    if (!program_path)
        return -1;
    auto program = find_program(*program_path);
    if (!program)
        return -1;
    std::vector<std::string> arguments = {*program_path};
    for (size_t i = 1; i < words.size(); ++i) {
        auto utf8 = base::gbk_to_utf8(words[i]);
        if (!utf8 || utf8->find('\0') != std::string::npos)
            return -1;
        arguments.push_back(std::move(*utf8));
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, program->c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    if (!wait) {
        unwaited().push_back(pid);
        return 0;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

std::optional<std::string> desktop_folder() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        return std::nullopt;
    return gbk_folder(xdg_desktop(home).value_or(std::string(home) + "/Desktop"));
}

std::optional<std::string> program_folder() {
    auto own = own_executable();
    if (!own)
        return std::nullopt;
    return gbk_folder(parent_of(*own));
}

std::optional<std::string> program_file_name() {
    auto own = own_executable();
    if (!own)
        return std::nullopt;
    return from_system_path(own->substr(own->rfind('/') + 1));
}

int64_t steady_milliseconds() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::optional<std::string> current_folder() {
    char* path = ::getcwd(nullptr, 0);
    if (path == nullptr)
        return std::nullopt;
    std::string folder = path;
    std::free(path);
    return gbk_folder(folder);
}

}  // namespace kernel::process
