#include "PublishAddress.h"

#include <strings.h>

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const std::size_t n = std::char_traits<char>::length(prefix);
    return text.size() >= n && ::strncasecmp(text.c_str(), prefix, n) == 0;
}

}  // namespace

bool IsPublishAddress(const std::string& url) {
    return StartsWithNoCase(url, "rtmp://") || StartsWithNoCase(url, "rtmps://");
}

const char* OutputProtocolsFor(const std::string& url) {
    return IsPublishAddress(url) ? "rtmp,rtmps,tcp,tls" : "file";
}
