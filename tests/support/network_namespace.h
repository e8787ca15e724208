// For tests that run inside a network namespace of their own, made in a
// child process: only its loopback interface exists, so nothing sent there
// can leave the machine, and its echo settings are the test's to choose.
#pragma once

namespace test_support {

struct NamespaceSettings {
    bool ping_sockets = false;  // net.ipv4.ping_group_range lets this user have them
    bool echo_answered = true;  // net.ipv4.icmp_echo_ignore_all = 0
};

// Moves the calling process into a new network namespace with its loopback
// interface up and `settings` in force; false when that cannot be done here
// (it needs root).
bool enter_network_namespace(const NamespaceSettings& settings);

}  // namespace test_support
