// Arbitrary bytes as a service reply (game list, stream information) and as a stream URL:
// reading them must never crash or throw, whatever the service sends.

#include <cstdint>
#include <string>
#include <vector>

#include "ServiceRequests.h"
#include "StreamAddress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    GameIdTable table;
    (void)ParseGameList(text, table);
    (void)ParseStreamInfo(text);
    (void)FormValue(text);
    // The URL comes from a stream-information reply; names are not looked up for real here.
    std::string resolved;
    (void)ResolveStreamUrl(
        text, resolved, [](const std::string& host) { return std::vector<std::string>{host, "127.0.0.1"}; },
        [](int, const std::string& address) { return static_cast<int>(address.size()) - 2; });
    return 0;
}
