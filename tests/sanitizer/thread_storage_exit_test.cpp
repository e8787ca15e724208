// A sanitized process that loads a module with a small thread-storage block
// ends with the status it chose, wherever the heap put that block. A block
// 16 bytes into a page is the case the leak check at exit once misread
// ("Tracer caught signal 11", exit status 1 after a clean end).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

constexpr size_t kSlot = 32;  // the heap's slot of a 16-byte block
constexpr size_t kKept = 100000;
void* g_kept[kKept];  // kept reachable: the leak check is not to report them

// In a child: fills 16-byte slots until a block `lag` slots further would
// begin 16 bytes into a page, loads the module and touches its storage.
// Tells the parent whether the block landed there, then ends with exit(0),
// so that the leak check runs.
[[noreturn]] void child(int lag, int report) {
    for (size_t i = 0; i < kKept; ++i) {
        g_kept[i] = std::malloc(16);
        if ((reinterpret_cast<uintptr_t>(g_kept[i]) + kSlot * lag) % 4096 == 16)
            break;
    }
    void* module = dlopen(THREAD_STORAGE_MODULE, RTLD_NOW | RTLD_LOCAL);
    auto touch =
        module ? reinterpret_cast<void* (*)()>(dlsym(module, "thread_storage_touch")) : nullptr;
    const char landed =
        touch != nullptr && reinterpret_cast<uintptr_t>(touch()) % 4096 == 16 ? 'y' : 'n';
    if (write(report, &landed, 1) != 1)
        std::_Exit(3);
    std::exit(0);
}

}  // namespace

TEST(SanitizedExit, SmallThreadStorageAtAnyPageOffsetEndsWithTheProgramsStatus) {
    // The heap hands out a few slots ahead of the last one it gave, so a
    // range of lags finds the block 16 bytes into a page.
    int landed_there = 0;
    for (int lag = 0; lag < 12; ++lag) {
        int pipe_ends[2];
        ASSERT_EQ(pipe(pipe_ends), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipe_ends[0]);
            child(lag, pipe_ends[1]);
        }
        close(pipe_ends[1]);
        char landed = 'n';
        const bool told = read(pipe_ends[0], &landed, 1) == 1;
        close(pipe_ends[0]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(told) << "lag " << lag;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "lag " << lag << ", block 16 bytes into a page: " << landed << ", status " << status;
        landed_there += landed == 'y';
    }
    // Without one such block the test shows nothing.
    EXPECT_GT(landed_there, 0);
}
