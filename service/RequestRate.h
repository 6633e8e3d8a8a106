#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

// At most `perMinute` requests a minute from one client, in bursts of up to `burst` (a token
// bucket per key). The web front limits the same routes; this is the limit that sees a request
// as the service reads it (the action after the query is decoded, whatever the method), so a
// request the front keyed differently is counted here all the same.
class RequestRate {
public:
    using Clock = std::chrono::steady_clock;

    RequestRate(double perMinute, double burst);

    // Takes one request of `key` when the bucket allows it. False: refused, and
    // `retryAfter` (when given) is how long until one would be allowed.
    bool Take(const std::string& key, Clock::time_point now = Clock::now(),
              std::chrono::seconds* retryAfter = nullptr);

private:
    struct Bucket {
        double tokens = 0;
        Clock::time_point last{};
    };
    // Forgets full buckets, which are the same as none, so the table stays small.
    void Prune(Clock::time_point now);

    const double perSecond_;
    const double burst_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
    Clock::time_point nextPrune_{};
};
