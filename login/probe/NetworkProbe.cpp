#include "NetworkProbe.h"

#include <chrono>

#include <unistd.h>

#include "IcmpEchoSocket.h"

namespace {

constexpr int kReplyTimeoutMs = 1000;

}  // namespace

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t size) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < size; i += 2) sum += static_cast<std::uint32_t>(data[i] | (data[i + 1] << 8));
    if (i < size) sum += data[i];
    while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

EchoRequest BuildEchoRequest(std::uint16_t identifier, std::uint16_t sequence) {
    EchoRequest packet{};
    packet[0] = 8;
    packet[1] = 0;
    packet[4] = static_cast<std::uint8_t>(identifier >> 8);
    packet[5] = static_cast<std::uint8_t>(identifier & 0xFF);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence & 0xFF);
    for (std::size_t i = 12; i < packet.size(); ++i) packet[i] = 'E';
    const std::uint16_t checksum = InternetChecksum(packet.data(), packet.size());
    packet[2] = static_cast<std::uint8_t>(checksum & 0xFF);
    packet[3] = static_cast<std::uint8_t>(checksum >> 8);
    return packet;
}

int PingHost(int count, const std::string& address) {
    const auto socket = net::IcmpEchoSocket::Open(kReplyTimeoutMs);
    if (!socket) return -1;
    const auto identifier = static_cast<std::uint16_t>(::getpid() & 0xFFFF);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const auto sequence = static_cast<std::uint16_t>(i);
        const EchoRequest packet = BuildEchoRequest(identifier, sequence);
        const auto sent = socket->Send(address, packet.data(), packet.size());
        if (sent == net::IcmpEchoSocket::SendResult::kFailed) return -1;
        // What matters is the time; an answer that does not come costs the full wait.
        (void)socket->WaitForEchoReply(identifier, sequence, kReplyTimeoutMs);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

bool SetDebugPrivilege(bool /*enable*/) { return true; }
