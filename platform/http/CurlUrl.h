#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace http {

struct CrackedUrl {
    bool secure = false;  // https
    std::string host;     // IPv6 literals keep their brackets
    std::uint16_t port = 0;  // the scheme's default when the URL names none
    std::string path;     // without the query
};

// Splits an absolute http or https URL; nullopt for anything else or a malformed URL.
std::optional<CrackedUrl> CrackUrl(const std::string& url);

}  // namespace http
