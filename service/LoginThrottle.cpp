#include "LoginThrottle.h"

#include <algorithm>
#include <climits>

#include "PasswordHash.h"

namespace {

// Records idle this long are forgotten: the count starts again from zero.
constexpr std::chrono::hours kForgetAfter{1};

int64_t Millis(LoginThrottle::Clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

int64_t Millis(std::chrono::milliseconds span)
{
    return span.count();
}

}  // namespace

std::string LoginThrottle::Key(char kind, const std::string& name, const std::string& address)
{
    // Names hold no control characters, so the separator cannot be forged.
    return std::string(1, kind) + PasswordHash::Sha256Hex(name + '\n' + address);
}

bool LoginThrottle::IsLocked(const std::string& key, Clock::time_point now)
{
    const auto tally = store_.FindTally(key);
    return tally && Millis(now) < tally->lockedUntil;
}

int64_t LoginThrottle::Count(const std::string& key, int free, std::chrono::seconds longest, Clock::time_point now)
{
    const int64_t at = Millis(now);
    return store_
        .ChangeTally(key,
                     [&](ServiceStore::Tally& tally) {
                         if (tally.count > 0 && at - tally.last > Millis(kForgetAfter)) tally = {};
                         ++tally.count;
                         tally.last = at;
                         const int64_t over = tally.count - free;
                         if (over > 0) {
                             const auto lock = kFirstLock * (1LL << std::min<int64_t>(over - 1, 20));
                             tally.lockedUntil = at + Millis(std::min<std::chrono::milliseconds>(lock, longest));
                         }
                         tally.keepUntil = std::max(tally.lockedUntil, at + Millis(kForgetAfter));
                     })
        .count;
}

bool LoginThrottle::Known(const std::string& name, const std::string& address, Clock::time_point now)
{
    const auto tally = store_.FindTally(Key('k', name, address));
    return tally && Millis(now) - tally->last < Millis(kRememberSuccess);
}

bool LoginThrottle::Locked(const std::string& name, const std::string& address, Clock::time_point now)
{
    if (IsLocked(Key('p', name, address), now)) return true;
    return !address.empty() && IsLocked(Key('a', address), now) && !Known(name, address, now);
}

void LoginThrottle::Failed(const std::string& name, const std::string& address, Clock::time_point now)
{
    Prune(now);
    // The name's own count never locks: it only tells when the name is under attack.
    const int64_t nameFailures = Count(Key('n', name), INT32_MAX, kLongestLock, now);
    const bool underAttack = !address.empty() && nameFailures > kNameUnderAttack && !Known(name, address, now);
    Count(Key('p', name, address), underAttack ? 0 : kFreeFailuresPerPair, kLongestLock, now);
    if (!address.empty()) Count(Key('a', address), kFreeFailuresPerAddress, kLongestAddressLock, now);
}

void LoginThrottle::Succeeded(const std::string& name, const std::string& address, Clock::time_point now)
{
    store_.ForgetTally(Key('p', name, address));
    if (address.empty()) return;
    const int64_t at = Millis(now);
    store_.ChangeTally(Key('k', name, address), [&](ServiceStore::Tally& tally) {
        tally.last = at;
        tally.keepUntil = at + Millis(kRememberSuccess);
    });
}

void LoginThrottle::Prune(Clock::time_point now)
{
    {
        std::lock_guard lock(pruneMutex_);
        if (now < nextPrune_) return;
        nextPrune_ = now + std::chrono::minutes(1);
    }
    store_.ForgetTalliesPast(Millis(now));
}
