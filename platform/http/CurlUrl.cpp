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

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// Unreserved characters, the delimiters of RFC 3986 that a path or query may hold, and "%".
bool CarriedAsWritten(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("-._~!$&'()*+,;=:@/?").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string EscapeRequestTarget(std::string_view target) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    for (std::size_t i = 0; i < target.size(); ++i) {
        const auto c = static_cast<unsigned char>(target[i]);
        const bool escapedAlready = c == '%' && i + 2 < target.size() && IsHexDigit(target[i + 1]) &&
                                    IsHexDigit(target[i + 2]);
        if (CarriedAsWritten(c) || escapedAlready) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string EscapeUrl(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return EscapeRequestTarget(url);
    const std::size_t rest = url.find_first_of("/?#", scheme + 3);
    if (rest == std::string_view::npos) return std::string(url);
    return std::string(url.substr(0, rest)) + EscapeRequestTarget(url.substr(rest));
}

std::optional<CrackedUrl> CrackUrl(const std::string& url) {
    if (!EnsureCurlInitialised()) return std::nullopt;
    CurlUrlPtr u(curl_url());
    if (!u || curl_url_set(u.get(), CURLUPART_URL, EscapeUrl(url).c_str(), 0) != CURLUE_OK) return std::nullopt;
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
