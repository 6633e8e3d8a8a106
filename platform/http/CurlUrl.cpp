#include "CurlUrl.h"

#include <cstdlib>
#include <memory>

#include <curl/curl.h>

#include "CurlSession.h"

namespace http {
namespace {

struct CurlUrlCleanup {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using CurlUrlPtr = std::unique_ptr<CURLU, CurlUrlCleanup>;

struct CurlFree {
    void operator()(char* p) const { curl_free(p); }
};
using CurlTextPtr = std::unique_ptr<char, CurlFree>;

std::optional<std::string> Part(CURLU* u, CURLUPart part, unsigned flags = 0) {
    char* raw = nullptr;
    if (curl_url_get(u, part, &raw, flags) != CURLUE_OK) return std::nullopt;
    CurlTextPtr text(raw);
    return std::string(text.get());
}

}  // namespace

std::optional<CrackedUrl> CrackUrl(const std::string& url) {
    if (!EnsureCurlInitialised()) return std::nullopt;
    CurlUrlPtr u(curl_url());
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return std::nullopt;
    const auto scheme = Part(u.get(), CURLUPART_SCHEME);
    if (!scheme || (*scheme != "http" && *scheme != "https")) return std::nullopt;
    const auto host = Part(u.get(), CURLUPART_HOST);
    const auto port = Part(u.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!host || host->empty() || !port) return std::nullopt;
    CrackedUrl cracked;
    cracked.secure = *scheme == "https";
    cracked.host = *host;
    cracked.port = static_cast<std::uint16_t>(std::strtoul(port->c_str(), nullptr, 10));
    cracked.path = Part(u.get(), CURLUPART_PATH).value_or("/");
    return cracked;
}

}  // namespace http
