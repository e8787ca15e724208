// Helpers shared by the tests: scratch folders, files, building programs from
// the real stub, running them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace test_support {

namespace fs = std::filesystem;

// A fresh folder below the system's temporary folder, removed at the end.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

std::vector<uint8_t> read_bytes(const fs::path& path);
std::string read_text(const fs::path& path);
// A listening TCP socket on 127.0.0.1 at a free port, which goes into
// `port`; -1 (and port 0) when there is none.
int loopback_listener(int& port);

// A text's lines, without their line ends (LF or CR LF).
std::vector<std::string> lines_of(const std::string& text);
void write_bytes(const fs::path& path, std::span<const uint8_t> bytes, bool executable = false);

// A deterministic stand-in program image of `size` bytes, starting with "WJ".
std::vector<uint8_t> sample_image(size_t size = 8192, uint8_t seed = 1);

// The first `count` bytes in lower-case hexadecimal, as the stand-in kernel
// reports them.
std::string hex_head(std::span<const uint8_t> bytes, size_t count = 16);

// The stub with the image attached, then the package bytes and a trailer.
std::vector<uint8_t> make_program(std::span<const uint8_t> stub, std::span<const uint8_t> image,
                                  std::span<const uint8_t> package);

// A whole program as the suite ships it, made from one build folder
// (native or win-x64): its stub, the image, and a runtime package holding
// the kernel and the named support libraries of that build. The runtime
// folder is named `folder_name`, so that programs made for one test share a
// warm runtime folder and tests do not share theirs.
void assemble_program(const fs::path& out, const fs::path& build_dir, const fs::path& image,
                      const std::vector<std::string>& libraries, const std::string& folder_name);

struct RunResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs argv[0] with the current environment plus `environment` (NAME=value
// entries), standard input closed, output captured. Waits at most
// `timeout_seconds`, then kills it (exit_code -1).
RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
              int timeout_seconds = 60, const fs::path& working_folder = {});

// Starts argv without waiting (in `working_folder` when one is given); gives
// the process id.
int start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
          const fs::path& working_folder = {});
// Waits for a process started with start(), at most `timeout_seconds`.
int wait_for(int pid, int timeout_seconds = 60);

}  // namespace test_support
