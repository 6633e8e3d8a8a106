#include "RequestRate.h"

#include <algorithm>
#include <cmath>

RequestRate::RequestRate(double perMinute, double burst) : perSecond_(perMinute / 60.0), burst_(burst) {}

bool RequestRate::Take(const std::string& key, Clock::time_point now, std::chrono::seconds* retryAfter)
{
    std::lock_guard lock(mutex_);
    Prune(now);
    Bucket& bucket = buckets_.try_emplace(key, Bucket{burst_, now}).first->second;
    const double elapsed = std::chrono::duration<double>(now - bucket.last).count();
    bucket.tokens = std::min(burst_, bucket.tokens + std::max(0.0, elapsed) * perSecond_);
    bucket.last = now;
    if (bucket.tokens >= 1) {
        bucket.tokens -= 1;
        return true;
    }
    if (retryAfter) {
        *retryAfter = std::chrono::seconds(static_cast<long long>(std::ceil((1 - bucket.tokens) / perSecond_)));
    }
    return false;
}

void RequestRate::Prune(Clock::time_point now)
{
    if (now < nextPrune_) return;
    nextPrune_ = now + std::chrono::minutes(1);
    std::erase_if(buckets_, [&](const auto& item) {
        const double elapsed = std::chrono::duration<double>(now - item.second.last).count();
        return item.second.tokens + elapsed * perSecond_ >= burst_;
    });
}
