#include "LoginThrottle.h"

#include <algorithm>

namespace {

// Records idle this long are forgotten: the count starts again from zero.
constexpr std::chrono::hours kForgetAfter{1};

}  // namespace

std::string LoginThrottle::PairKey(const std::string& name, const std::string& address)
{
    // Names hold no control characters, so the separator cannot be forged.
    return name + '\n' + address;
}

bool LoginThrottle::IsLocked(const Table& table, const std::string& key, Clock::time_point now)
{
    const auto it = table.find(key);
    return it != table.end() && now < it->second.lockedUntil;
}

LoginThrottle::Record& LoginThrottle::Tally(Table& table, const std::string& key, Clock::time_point now)
{
    Record& record = table[key];
    if (record.failures > 0 && now - record.last > kForgetAfter) record = {};
    ++record.failures;
    record.last = now;
    return record;
}

void LoginThrottle::Count(Table& table, const std::string& key, int free, std::chrono::seconds longest,
                          Clock::time_point now)
{
    Record& record = Tally(table, key, now);
    const int over = record.failures - free;
    if (over <= 0) return;
    auto lock = kFirstLock * (1LL << std::min(over - 1, 20));
    record.lockedUntil = now + std::min<Clock::duration>(lock, longest);
}

bool LoginThrottle::Known(const std::string& pair, Clock::time_point now) const
{
    const auto it = known_.find(pair);
    return it != known_.end() && now - it->second < kRememberSuccess;
}

bool LoginThrottle::Locked(const std::string& name, const std::string& address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    const std::string pair = PairKey(name, address);
    if (IsLocked(pairs_, pair, now)) return true;
    return !address.empty() && IsLocked(addresses_, address, now) && !Known(pair, now);
}

void LoginThrottle::Failed(const std::string& name, const std::string& address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    Prune(now);
    const std::string pair = PairKey(name, address);
    const int nameFailures = Tally(names_, name, now).failures;
    const bool underAttack = !address.empty() && nameFailures > kNameUnderAttack && !Known(pair, now);
    Count(pairs_, pair, underAttack ? 0 : kFreeFailuresPerPair, kLongestLock, now);
    if (!address.empty()) Count(addresses_, address, kFreeFailuresPerAddress, kLongestAddressLock, now);
}

void LoginThrottle::Succeeded(const std::string& name, const std::string& address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    const std::string pair = PairKey(name, address);
    pairs_.erase(pair);
    if (!address.empty()) known_[pair] = now;
}

void LoginThrottle::Prune(Clock::time_point now)
{
    if (now < nextPrune_) return;
    nextPrune_ = now + std::chrono::minutes(1);
    for (Table* table : {&pairs_, &names_, &addresses_}) {
        std::erase_if(*table, [&](const auto& item) {
            return now >= item.second.lockedUntil && now - item.second.last > kForgetAfter;
        });
    }
    std::erase_if(known_, [&](const auto& item) { return now - item.second >= kRememberSuccess; });
}
