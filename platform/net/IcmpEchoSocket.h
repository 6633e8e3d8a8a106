#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace net {

// An IPv4 socket for ICMP echo requests: a raw ICMP socket carrying the record-route IP option
// when the process may open one, else an unprivileged ICMP datagram socket (where the system
// allows it: net.ipv4.ping_group_range). On a datagram socket the kernel sets the identifier
// and the checksum of what is sent.
class IcmpEchoSocket {
public:
    enum class Kind { kRaw, kDatagram };
    enum class SendResult { kSent, kTimedOut, kFailed };

    // Null when neither socket can be made or set up. Sending and receiving time out after
    // `timeoutMs`.
    static std::unique_ptr<IcmpEchoSocket> Open(int timeoutMs);
    ~IcmpEchoSocket();
    IcmpEchoSocket(const IcmpEchoSocket&) = delete;
    IcmpEchoSocket& operator=(const IcmpEchoSocket&) = delete;

    Kind GetKind() const { return kind_; }

    // Sends `size` bytes of an ICMP message to the dotted IPv4 `address`.
    SendResult Send(const std::string& address, const std::uint8_t* packet, std::size_t size);

    // Waits up to `timeoutMs` for the echo reply with `sequence` (and, on a raw socket, which
    // sees every ICMP message of the host, with `identifier`). True when it came.
    bool WaitForEchoReply(std::uint16_t identifier, std::uint16_t sequence, int timeoutMs);

private:
    IcmpEchoSocket(int fd, Kind kind) : fd_(fd), kind_(kind) {}

    int fd_;
    Kind kind_;
};

}  // namespace net
