// Timing a program of the suite from its start to its end, as a person
// starting it would wait for it.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

// Runs `path` with the benchmark's environment; gives the milliseconds from
// its start to its end. A program that fails ends the benchmark.
inline double run_once(const std::string& path) {
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0)
        std::exit(1);
    int status = 0;
    waitpid(pid, &status, 0);
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s ended badly\n", path.c_str());
        std::exit(1);
    }
    return ms;
}

// The middle one of `values`, 0 for none.
inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace bench
