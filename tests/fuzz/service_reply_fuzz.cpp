// Arbitrary bytes as a service reply (game list, stream information) and as a stream URL:
// reading them must never crash or throw, whatever the service sends.

#include <cstdint>
#include <string>
#include <vector>

#include "ServiceRequests.h"
#include "StreamAddress.h"

namespace {

// Names are not looked up for real here; every host but the empty one has two addresses.
bool Resolve(const std::string& url) {
    std::string resolved;
    return ResolveStreamUrl(
        url, resolved,
        [](const std::string& host) {
            return host.empty() ? std::vector<std::string>{} : std::vector<std::string>{host, "127.0.0.1"};
        },
        [](int, const std::string& address) { return static_cast<int>(address.size()) - 2; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    GameIdTable table;
    (void)ParseGameList(text, table);
    (void)FormValue(text);
    (void)Resolve(text);
    // The address the broadcast start resolves is the reply's "pipUrl".
    if (const auto info = ParseStreamInfo(text)) (void)Resolve(info->pipUrl);
    return 0;
}
