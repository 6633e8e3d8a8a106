#pragma once

#include <string>
#include <vector>

namespace net {

// The IPv4 addresses of `host` in dotted-decimal form, in the order of the resolver's answer
// (a dotted address gives itself). Empty when the name does not resolve.
std::vector<std::string> ResolveIpv4(const std::string& host);

}  // namespace net
