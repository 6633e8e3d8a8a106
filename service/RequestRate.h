#pragma once

#include <chrono>
#include <string>

#include "ServiceStore.h"

// At most `perMinute` requests a minute from one client, in bursts of up to `burst` (a token
// bucket per key, kept in the store so that every instance of the service takes from the same
// bucket). The web front limits the same routes; this is the limit that sees a request as the
// service reads it (the action after the query is decoded, whatever the method), so a request
// the front keyed differently is counted here all the same.
class RequestRate {
public:
    using Clock = std::chrono::system_clock;

    // `name` tells this limit's buckets from other limits' in the store.
    RequestRate(ServiceStore& store, std::string name, double perMinute, double burst);

    // Takes one request of `key` when the bucket allows it. False: refused, and
    // `retryAfter` (when given) is how long until one would be allowed.
    bool Take(const std::string& key, Clock::time_point now = Clock::now(),
              std::chrono::seconds* retryAfter = nullptr);

private:
    ServiceStore& store_;
    const std::string name_;
    const double perSecond_;
    const double burst_;
};
