#include "tests/support/test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "loader/assemble/attach.h"
#include "loader/package/writer.h"

extern char** environ;

namespace test_support {

ScratchDir::ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "gs-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    // Tests may leave folders that only their owner can enter.
    for (auto& entry : fs::recursive_directory_iterator(path_, ignored))
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::vector<uint8_t> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int loopback_listener(int& port) {
    port = 0;
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener >= 0)
            close(listener);
        return -1;
    }
    port = ntohs(address.sin_port);
    return listener;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void write_bytes(const fs::path& path, std::span<const uint8_t> bytes, bool executable) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
    }
    if (executable)
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
}

std::vector<uint8_t> sample_image(size_t size, uint8_t seed) {
    std::vector<uint8_t> image(size);
    uint32_t state = 0x12345678u * seed + 1;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        image[i] = static_cast<uint8_t>(state >> 24);
    }
    if (size >= 2) {
        image[0] = 'W';
        image[1] = 'J';
    }
    return image;
}

std::string hex_head(std::span<const uint8_t> bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < count && i < bytes.size(); ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

std::vector<uint8_t> make_program(std::span<const uint8_t> stub, std::span<const uint8_t> image,
                                  std::span<const uint8_t> package) {
    auto program = loader::attach_image(stub, image);
    if (program.is_error())
        throw std::runtime_error(program.error());
    loader::append_package(program.value(), package);
    return program.release_value();
}

namespace {

std::vector<char*> environment_with(const std::vector<std::string>& extra,
                                    std::vector<std::string>& storage) {
    storage.clear();
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool overridden = false;
        for (const std::string& e : extra)
            overridden = overridden || e.substr(0, e.find('=')) == name;
        if (!overridden)
            storage.push_back(text);
    }
    storage.insert(storage.end(), extra.begin(), extra.end());
    std::vector<char*> pointers;
    for (std::string& s : storage)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

int spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
          const std::string& out_path, const std::string& err_path,
          const fs::path& working_folder = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!working_folder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> args = argv;
    std::vector<char*> arg_pointers;
    for (std::string& a : args)
        arg_pointers.push_back(a.data());
    arg_pointers.push_back(nullptr);
    std::vector<std::string> storage;
    std::vector<char*> env = environment_with(environment, storage);
    pid_t pid = -1;
    int status =
        posix_spawn(&pid, arg_pointers[0], &actions, nullptr, arg_pointers.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

}  // namespace

int start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
          const fs::path& working_folder) {
    return spawn(argv, environment, "/dev/null", "/dev/null", working_folder);
}

int wait_for(int pid, int timeout_seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
              int timeout_seconds, const fs::path& working_folder) {
    ScratchDir capture;
    std::string out_path = (capture / "out").string();
    std::string err_path = (capture / "err").string();
    int pid = spawn(argv, environment, out_path, err_path, working_folder);
    RunResult result;
    result.exit_code = wait_for(pid, timeout_seconds);
    result.out = read_text(out_path);
    result.err = read_text(err_path);
    return result;
}

void assemble_program(const fs::path& out, const fs::path& build_dir, const fs::path& image,
                      const std::vector<std::string>& libraries, const std::string& folder_name) {
    const bool windows = fs::exists(build_dir / "loader" / "stub.exe");
    std::vector<loader::RuntimeFile> files;
    files.push_back({"krnln.fne", read_bytes(build_dir / "runtime" / "kernel" / "krnln.fne")});
    for (const std::string& name : libraries)
        files.push_back(
            {name + ".fne", read_bytes(build_dir / "runtime" / "libraries" / (name + ".fne"))});
    // Level 1: sanitizer builds of the kernel are large.
    const std::vector<uint8_t> package =
        loader::build_package(files, 0, folder_name, 0x13572468, 1);
    write_bytes(out,
                make_program(read_bytes(build_dir / "loader" / (windows ? "stub.exe" : "stub")),
                             read_bytes(image), package),
                true);
}

}  // namespace test_support
