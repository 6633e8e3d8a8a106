#include "IcmpEchoSocket.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {
namespace {

bool SetTimeouts(int fd, int timeoutMs) {
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

// Record route (RFC 791 3.1): type 7, length 39, pointer 4, room for nine addresses; padded to
// the 40 bytes of the options field.
bool SetRecordRoute(int fd) {
    std::uint8_t options[40] = {};
    options[0] = IPOPT_RR;
    options[1] = 39;
    options[2] = 4;
    return setsockopt(fd, IPPROTO_IP, IP_OPTIONS, options, sizeof options) == 0;
}

std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

std::unique_ptr<IcmpEchoSocket> IcmpEchoSocket::Open(int timeoutMs) {
    int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        std::unique_ptr<IcmpEchoSocket> s(new IcmpEchoSocket(fd, Kind::kRaw));
        if (!SetRecordRoute(fd) || !SetTimeouts(fd, timeoutMs)) return nullptr;
        return s;
    }
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return nullptr;
    std::unique_ptr<IcmpEchoSocket> s(new IcmpEchoSocket(fd, Kind::kDatagram));
    // The datagram socket takes IP options too; a kernel that refuses them still measures.
    (void)SetRecordRoute(fd);
    if (!SetTimeouts(fd, timeoutMs)) return nullptr;
    return s;
}

IcmpEchoSocket::~IcmpEchoSocket() { ::close(fd_); }

IcmpEchoSocket::SendResult IcmpEchoSocket::Send(const std::string& address, const std::uint8_t* packet,
                                                std::size_t size) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) return SendResult::kFailed;
    const ssize_t sent = sendto(fd_, packet, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent == static_cast<ssize_t>(size)) return SendResult::kSent;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return SendResult::kTimedOut;
    return SendResult::kFailed;
}

bool IcmpEchoSocket::WaitForEchoReply(std::uint16_t identifier, std::uint16_t sequence, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint8_t buffer[1024];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return false;
        }
        const std::uint8_t* icmp = buffer;
        std::size_t length = static_cast<std::size_t>(n);
        if (kind_ == Kind::kRaw) {
            // A raw socket hands over the IP header, options included, and sees every ICMP
            // message of the host: our own requests on loopback and other programs' replies.
            if (length < 20) continue;
            const std::size_t header = static_cast<std::size_t>(buffer[0] & 0x0F) * 4;
            if (length < header + 8) continue;
            icmp += header;
            length -= header;
        }
        if (length < 8 || icmp[0] != ICMP_ECHOREPLY) continue;
        if (Read16(icmp + 6) != sequence) continue;
        if (kind_ == Kind::kRaw && Read16(icmp + 4) != identifier) continue;
        return true;
    }
}

}  // namespace net
