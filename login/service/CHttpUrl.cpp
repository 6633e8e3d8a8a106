#include "CHttpUrl.h"

#include "CurlUrl.h"

CHttpUrl::CHttpUrl(const std::string& url) {
    const auto cracked = http::CrackUrl(url);
    if (!cracked) return;
    scheme = cracked->secure ? kSchemeHttps : kSchemeHttp;
    host = cracked->host;
    port = cracked->port;
    path = cracked->path;
}

std::string CHttpUrl::Origin() const {
    if (!Cracked()) return {};
    const bool defaultPort = (scheme == kSchemeHttp && port == 80) || (scheme == kSchemeHttps && port == 443);
    return std::string(scheme == kSchemeHttps ? "https://" : "http://") + host +
           (defaultPort ? "" : ":" + std::to_string(port));
}
