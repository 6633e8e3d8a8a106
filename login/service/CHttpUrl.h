#pragma once

#include <cstdint>
#include <string>

// The parts of a service URL the HTTP client keeps. scheme is 1 for http, 2 for https and 0 when
// the URL could not be cracked (host empty, port 0 then).
class CHttpUrl {
public:
    static constexpr int kSchemeHttp = 1;
    static constexpr int kSchemeHttps = 2;

    CHttpUrl() = default;
    explicit CHttpUrl(const std::string& url);

    bool Cracked() const { return scheme != 0; }
    // scheme://host, plus ":port" when it is not the scheme's default; empty when not cracked.
    std::string Origin() const;

    int scheme = 0;
    std::string host;
    std::uint16_t port = 0;
    std::string path;  // kept, but requests take their object name from the URL text
};
