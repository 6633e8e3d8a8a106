#pragma once

#include <functional>
#include <string>
#include <vector>

// Dotted IPv4 addresses of a host, in the resolver's order; empty when it does not resolve.
using AddressResolver = std::function<std::vector<std::string>(const std::string& host)>;
// Milliseconds that `count` echo requests to an address took, or -1 when it could not be probed.
using AddressProbe = std::function<int(int count, const std::string& address)>;

// Rewrites the stream URL "rtmp://host:port/path" (prefix, port and path each optional) with
// the host replaced by its fastest address: each address of the host is probed with two echo
// requests; the smallest time wins, the first address in the answer on equal times. An
// address that could not be probed ranks after every measured one, so when no probe succeeds
// the first address of the answer wins. False (and `resolved` untouched) when the host does
// not resolve: the caller then uses the URL unchanged.
bool ResolveStreamUrl(const std::string& url, std::string& resolved);
bool ResolveStreamUrl(const std::string& url, std::string& resolved, const AddressResolver& resolve,
                      const AddressProbe& probe);

// The index of the address to use, given each address's probe result in answer order; -1 for
// an empty list.
int ChooseProbedAddress(const std::vector<int>& probeResults);
