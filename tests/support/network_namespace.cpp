#include "tests/support/network_namespace.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace test_support {

namespace {

bool write_setting(const char* path, const char* value) {
    const int fd = open(path, O_WRONLY);
    if (fd < 0)
        return false;
    const bool written =
        write(fd, value, std::strlen(value)) == static_cast<ssize_t>(std::strlen(value));
    close(fd);
    return written;
}

bool loopback_up() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return up;
}

}  // namespace

bool enter_network_namespace(const NamespaceSettings& settings) {
    return unshare(CLONE_NEWNET) == 0 && loopback_up() &&
           write_setting("/proc/sys/net/ipv4/ping_group_range",
                         settings.ping_sockets ? "0 2147483647" : "1 0") &&
           write_setting("/proc/sys/net/ipv4/icmp_echo_ignore_all",
                         settings.echo_answered ? "0" : "1");
}

}  // namespace test_support
