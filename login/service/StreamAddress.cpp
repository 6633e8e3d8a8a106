#include "StreamAddress.h"

#include <algorithm>

#include "Ipv4Resolver.h"
#include "NetworkProbe.h"

namespace {

constexpr const char* kRtmpPrefix = "rtmp://";
constexpr int kEchoRequests = 2;

}  // namespace

int ChooseProbedAddress(const std::vector<int>& probeResults) {
    int best = -1;
    for (int i = 0; i < static_cast<int>(probeResults.size()); ++i) {
        const int result = probeResults[static_cast<std::size_t>(i)];
        if (best < 0) {
            best = i;
            continue;
        }
        const int bestResult = probeResults[static_cast<std::size_t>(best)];
        // A failed probe (-1) must not beat a measured time; among equals the earlier stays.
        const bool better = result >= 0 && (bestResult < 0 || result < bestResult);
        if (better) best = i;
    }
    return best;
}

bool ResolveStreamUrl(const std::string& url, std::string& resolved) {
    return ResolveStreamUrl(url, resolved, &net::ResolveIpv4, &PingHost);
}

bool ResolveStreamUrl(const std::string& url, std::string& resolved, const AddressResolver& resolve,
                      const AddressProbe& probe) {
    std::string rest = url;
    // "rtmp://" puts the first "/" at index 5. A reply may cut the prefix short ("rtmp:/"):
    // what is there of it goes, and an empty host resolves to nothing.
    const bool prefixed = rest.find('/') == 5;
    if (prefixed) rest.erase(0, std::min<std::size_t>(7, rest.size()));

    const auto slash = rest.find('/');
    const std::string path = slash == std::string::npos ? std::string() : rest.substr(slash);
    const std::string authority = rest.substr(0, slash);
    const auto colon = authority.find(':');
    const std::string portSuffix = colon == std::string::npos ? std::string() : authority.substr(colon);
    const std::string host = authority.substr(0, colon);
    if (host.empty()) return false;

    const std::vector<std::string> addresses = resolve(host);
    if (addresses.empty()) return false;
    std::vector<int> results;
    results.reserve(addresses.size());
    for (const auto& address : addresses) results.push_back(probe(kEchoRequests, address));
    const int chosen = ChooseProbedAddress(results);
    if (chosen < 0) return false;

    resolved = (prefixed ? kRtmpPrefix : "") + addresses[static_cast<std::size_t>(chosen)] + portSuffix + path;
    return true;
}
