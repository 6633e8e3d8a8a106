#include "RequestRate.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "PasswordHash.h"

namespace {

// The bucket's tokens are kept in thousandths, as the store counts in whole numbers.
constexpr double kMilli = 1000.0;

}  // namespace

RequestRate::RequestRate(ServiceStore& store, std::string name, double perMinute, double burst)
    : store_(store), name_(std::move(name)), perSecond_(perMinute / 60.0), burst_(burst)
{
}

bool RequestRate::Take(const std::string& key, Clock::time_point now, std::chrono::seconds* retryAfter)
{
    const int64_t at = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    bool taken = false;
    double tokens = 0;
    store_.ChangeTally("r" + PasswordHash::Sha256Hex(name_ + '\n' + key), [&](ServiceStore::Tally& bucket) {
        // A bucket the store does not hold is full.
        tokens = bucket.keepUntil == 0 ? burst_ : bucket.count / kMilli;
        const double elapsed = std::max<int64_t>(0, at - bucket.last) / 1000.0;
        if (bucket.keepUntil != 0) tokens = std::min(burst_, tokens + elapsed * perSecond_);
        taken = tokens >= 1;
        if (taken) tokens -= 1;
        bucket.count = static_cast<int64_t>(std::floor(tokens * kMilli));
        bucket.last = at;
        // Full again by then: the same as no bucket, so it may be forgotten.
        bucket.keepUntil = at + static_cast<int64_t>(std::ceil((burst_ - tokens) / perSecond_ * 1000.0)) + 1;
    });
    if (!taken && retryAfter) {
        *retryAfter = std::chrono::seconds(static_cast<long long>(std::ceil((1 - tokens) / perSecond_)));
    }
    return taken;
}
