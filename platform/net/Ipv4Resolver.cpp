#include "Ipv4Resolver.h"

#include <memory>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace net {
namespace {

struct AddrInfoFree {
    void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoFree>;

}  // namespace

std::vector<std::string> ResolveIpv4(const std::string& host) {
    std::vector<std::string> addresses;
    if (host.empty()) return addresses;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One entry per address: without a socket type every address comes once per type.
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0) return addresses;
    const AddrInfoPtr list(raw);
    for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || ai->ai_addr == nullptr) continue;
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) != nullptr) addresses.emplace_back(text);
    }
    return addresses;
}

}  // namespace net
