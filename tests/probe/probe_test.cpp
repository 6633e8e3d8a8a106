// The ICMP echo probe on loopback, and in network namespaces made by the test itself: nothing
// is ever sent beyond this machine's loopback.
#include <climits>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "NetworkProbe.h"

namespace {

struct NamespaceSetup {
    bool ignoreEcho = false;             // the namespace's loopback never answers
    bool dropRawSockets = false;         // no CAP_NET_RAW: raw ICMP sockets are refused
    const char* pingGroups = nullptr;    // net.ipv4.ping_group_range inside the namespace
};

bool WriteSysctl(const char* path, const char* value) {
    std::ofstream out(path);
    out << value;
    out.flush();
    return static_cast<bool>(out);
}

bool BringLoopbackUp() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "lo");
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    close(fd);
    return ok;
}

bool DropRawSockets() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    const unsigned bit = 1u << CAP_NET_RAW;
    data[0].effective &= ~bit;
    data[0].permitted &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

constexpr int kNoNamespace = INT_MIN;

// Runs PingHost(count, 127.0.0.1) in a child process inside a network namespace of its own;
// the child's sysctls and capabilities die with it. kNoNamespace when none can be made.
int PingInNamespace(const NamespaceSetup& setup, int count) {
    int fds[2];
    if (pipe(fds) != 0) return kNoNamespace;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        int result = kNoNamespace;
        if (unshare(CLONE_NEWNET) == 0 && BringLoopbackUp() &&
            (!setup.ignoreEcho || WriteSysctl("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1")) &&
            (setup.pingGroups == nullptr || WriteSysctl("/proc/sys/net/ipv4/ping_group_range", setup.pingGroups)) &&
            (!setup.dropRawSockets || DropRawSockets()))
            result = PingHost(count, "127.0.0.1");
        (void)!write(fds[1], &result, sizeof result);
        _exit(0);
    }
    close(fds[1]);
    int result = kNoNamespace;
    if (child < 0 || read(fds[0], &result, sizeof result) != sizeof result) result = kNoNamespace;
    close(fds[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    return result;
}

#define SKIP_WITHOUT_NAMESPACE(result)                                                                       \
    if ((result) == kNoNamespace)                                                                            \
    GTEST_SKIP() << "cannot make a network namespace here (needs root or CAP_SYS_ADMIN, and user/net "       \
                    "namespaces enabled)"

TEST(EchoRequest, HasTheWireLayoutAndAValidChecksum) {
    const EchoRequest packet = BuildEchoRequest(0x1234, 1);
    EXPECT_EQ(packet[0], 8);
    EXPECT_EQ(packet[1], 0);
    EXPECT_EQ(packet[4], 0x12);
    EXPECT_EQ(packet[5], 0x34);
    EXPECT_EQ(packet[6], 0x00);
    EXPECT_EQ(packet[7], 0x01);
    for (std::size_t i = 8; i < 12; ++i) EXPECT_EQ(packet[i], 0) << i;
    for (std::size_t i = 12; i < packet.size(); ++i) EXPECT_EQ(packet[i], 'E') << i;
    // A message with a correct checksum sums to zero.
    EXPECT_EQ(InternetChecksum(packet.data(), packet.size()), 0);
    EXPECT_NE(BuildEchoRequest(0x1234, 2)[2] | (BuildEchoRequest(0x1234, 2)[3] << 8),
              packet[2] | (packet[3] << 8));
}

TEST(EchoRequest, ChecksumFoldsCarriesAndAddsAnOddByteAlone) {
    const std::uint8_t carry[] = {0xFF, 0xFF, 0x01, 0x00};
    EXPECT_EQ(InternetChecksum(carry, sizeof carry), 0xFFFE);
    const std::uint8_t odd[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(InternetChecksum(odd, sizeof odd), static_cast<std::uint16_t>(~(0x0201 + 0x03)));
}

TEST(PingHost, LoopbackAnswers) {
    const int elapsed = PingHost(2, "127.0.0.1");
    ASSERT_GE(elapsed, 0) << "no ICMP socket could be opened";
    // Both answers came: an unanswered request alone would cost 1000 ms.
    EXPECT_LT(elapsed, 1000);
}

TEST(PingHost, AnAddressThatCannotBeSentToFails) {
    EXPECT_EQ(PingHost(2, "not-an-address"), -1);
    EXPECT_EQ(PingHost(1, "127.0.0.256"), -1);
}

TEST(PingHost, UnansweredRequestsCostASecondEach) {
    const int elapsed = PingInNamespace({.ignoreEcho = true}, 2);
    SKIP_WITHOUT_NAMESPACE(elapsed);
    EXPECT_GE(elapsed, 1990);
    EXPECT_LT(elapsed, 3500);
}

TEST(PingHost, FallsBackToTheDatagramSocketWithoutRawSockets) {
    const int elapsed = PingInNamespace({.dropRawSockets = true, .pingGroups = "0 2147483647"}, 2);
    SKIP_WITHOUT_NAMESPACE(elapsed);
    ASSERT_GE(elapsed, 0);
    EXPECT_LT(elapsed, 1000);
}

TEST(PingHost, NoIcmpSocketAtAllGivesMinusOne) {
    const int elapsed = PingInNamespace({.dropRawSockets = true, .pingGroups = "1 0"}, 2);
    SKIP_WITHOUT_NAMESPACE(elapsed);
    EXPECT_EQ(elapsed, -1);
}

}  // namespace
