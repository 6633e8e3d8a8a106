#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace http {

struct CrackedUrl {
    bool secure = false;  // https
    std::string host;     // IPv6 literals keep their brackets
    std::uint16_t port = 0;  // the scheme's default when the URL names none
    std::string path;     // without the query
};

// Splits an absolute http or https URL; nullopt for anything else or a malformed URL. The text
// after the host is escaped first (EscapeUrl), so a space or a non-ASCII name in the path or the
// query does not make the URL unusable.
std::optional<CrackedUrl> CrackUrl(const std::string& url);

// A request target (path and query) as it may go on the wire: every byte a URL cannot carry
// (controls, space, non-ASCII bytes, and " # < > [ \ ] ^ ` { | } DEL) becomes %XX. Everything
// else stays as written: "/", "?", "&", "=", the other delimiters, and an existing "%XX". A "%"
// not followed by two hex digits is itself escaped.
std::string EscapeRequestTarget(std::string_view target);

// The same for a whole absolute URL: its scheme and host stay as written, the rest is escaped.
std::string EscapeUrl(std::string_view url);

}  // namespace http
