#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The ICMP echo probe that ranks streaming-server addresses, and the process privilege switch.

inline constexpr std::size_t kEchoRequestSize = 44;
using EchoRequest = std::array<std::uint8_t, kEchoRequestSize>;

// The Internet checksum (RFC 1071) of `size` bytes, summed as little-endian 16-bit words: store
// it the same way (low byte first) and the message sums to zero.
std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t size);

// An echo request: type 8, code 0, checksum, identifier and sequence number (both in network
// order), four zero bytes and 32 bytes of "E".
EchoRequest BuildEchoRequest(std::uint16_t identifier, std::uint16_t sequence);

// Sends `count` echo requests to the dotted IPv4 `address`, one after the other, waiting up to
// 1000 ms for each answer, and returns the milliseconds all of it took; -1 when no ICMP socket
// can be opened or a request cannot be sent. An address that never answers costs about
// count x 1000 ms. Blocks the caller.
int PingHost(int count, const std::string& address);

// The debug privilege of the design opens other processes for the game list; here every
// process readable under /proc already is, so the switch changes nothing and reports success.
bool SetDebugPrivilege(bool enable);
