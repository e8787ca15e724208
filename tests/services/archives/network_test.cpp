// Name resolution and ICMP echo (runtime/kernel/services/network.h). Every
// case runs in a network namespace of its own, made for it in a child
// process: only its loopback interface exists, so nothing can leave the
// machine, and the echo settings of the namespace (which socket kind an
// unprivileged ping gets, whether echo requests are answered) are the
// test's to choose.
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "runtime/kernel/services/network.h"
#include "tests/support/network_namespace.h"

namespace {

namespace network = kernel::network;

using Namespace = test_support::NamespaceSettings;

constexpr int kNoNamespace = 200;

// Runs `body` in a child process inside a new network namespace set up as
// `settings` says; gives the text the body returns, or nullopt (with
// `skipped`) when the namespace cannot be made here.
std::optional<std::string> in_namespace(const Namespace& settings,
                                        const std::function<std::string()>& body, bool& skipped) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_fds[0]);
        if (!test_support::enter_network_namespace(settings))
            _exit(kNoNamespace);
        const std::string result = body();
        [[maybe_unused]] ssize_t put = write(pipe_fds[1], result.data(), result.size());
        _exit(0);
    }
    close(pipe_fds[1]);
    std::string result;
    char buffer[256];
    ssize_t got;
    while ((got = read(pipe_fds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<size_t>(got));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    skipped = WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return result;
}

#define RUN_IN_NAMESPACE(result, settings, body)                              \
    bool skipped_ = false;                                                    \
    auto result = in_namespace(settings, body, skipped_);                     \
    if (skipped_)                                                             \
        GTEST_SKIP() << "no network namespace can be made here (needs root)"; \
    ASSERT_TRUE(result.has_value()) << "the child failed";

// Both socket kinds (an unprivileged ping socket, a raw socket that also
// sees the request itself on the loopback interface): an echo answered in
// time gives a time of 0 ms or more; one that is never answered gives -1
// once the limit has passed.
TEST(Network, PingOnLoopback) {
    struct Case {
        const char* what;
        Namespace settings;
        int32_t expected_sign;  // 1: a time, -1: no echo
    };
    const Case cases[] = {
        {"ping socket, answered", {true, true}, 1},
        {"raw socket, answered", {false, true}, 1},
        {"ping socket, not answered", {true, false}, -1},
        {"raw socket, not answered", {false, false}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RUN_IN_NAMESPACE(result, c.settings,
                         [] { return std::to_string(network::ping("127.0.0.1", 300)); });
        const int32_t time = std::stoi(*result);
        if (c.expected_sign > 0)
            EXPECT_GE(time, 0);
        else
            EXPECT_EQ(time, -1);
    }
}

// What is not a dotted address, or no time to wait, gives -1 without a send.
TEST(Network, PingNeedsADottedAddressAndATimeLimit) {
    RUN_IN_NAMESPACE(result, (Namespace{true, true}), [] {
        std::string out;
        for (const char* address : {"localhost", "127.0.0", "127.0.0.1.", "", "127.0.0.256"})
            out += std::to_string(network::ping(address, 300)) + " ";
        out += std::to_string(network::ping("127.0.0.1", 0));
        return out;
    });
    EXPECT_EQ(*result, "-1 -1 -1 -1 -1 -1");
}

TEST(Network, ResolveHost) {
    RUN_IN_NAMESPACE(result, Namespace{}, [] {
        std::string out;
        for (const char* name : {"localhost", "127.0.0.1", "10.20.30.40", "", "no such host",
                                 "a..b", "-a.b", "a.b-", "名字.b", "127.0.0.1 x"}) {
            auto dotted = network::resolve_host(name);
            out += "[" + dotted.value_or("none") + "]";
        }
        return out;
    });
    EXPECT_EQ(*result,
              "[127.0.0.1][127.0.0.1][10.20.30.40][none][none][none][none][none][none][none]");
}

TEST(Network, HostNameSyntax) {
    const std::string long_label(63, 'a');
    const std::pair<std::string, bool> cases[] = {
        {"example.test", true},
        {"a-b_c.d9.", true},
        {long_label + ".x", true},
        {long_label + "a.x", false},
        {std::string(254, 'a'), false},
        {"", false},
        {".", false},
        {"a..b", false},
        {"-a", false},
        {"a-", false},
        {"a b", false},
        {"a/b", false},
        {"\xC3\xA9.test", false},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(network::is_host_name(name), expected) << name;
}

}  // namespace
