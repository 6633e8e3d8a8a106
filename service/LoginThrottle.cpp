#include "LoginThrottle.h"

#include <algorithm>

namespace {

// Records idle this long are forgotten: the count starts again from zero.
constexpr std::chrono::hours kForgetAfter{1};

}  // namespace

bool LoginThrottle::IsLocked(const Table& table, const std::string& key, Clock::time_point now)
{
    const auto it = table.find(key);
    return it != table.end() && now < it->second.lockedUntil;
}

void LoginThrottle::Count(Table& table, const std::string& key, int free, Clock::time_point now)
{
    Record& record = table[key];
    if (record.failures > 0 && now - record.last > kForgetAfter) record = {};
    ++record.failures;
    record.last = now;
    const int over = record.failures - free;
    if (over <= 0) return;
    auto lock = kFirstLock * (1LL << std::min(over - 1, 20));
    record.lockedUntil = now + std::min<Clock::duration>(lock, kLongestLock);
}

bool LoginThrottle::Locked(const std::string& name, const std::string& address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    return IsLocked(names_, name, now) || IsLocked(addresses_, address, now);
}

void LoginThrottle::Failed(const std::string& name, const std::string& address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    Prune(now);
    Count(names_, name, kFreeFailuresPerName, now);
    if (!address.empty()) Count(addresses_, address, kFreeFailuresPerAddress, now);
}

void LoginThrottle::Succeeded(const std::string& name)
{
    std::lock_guard lock(mutex_);
    names_.erase(name);
}

void LoginThrottle::Prune(Clock::time_point now)
{
    if (now < nextPrune_) return;
    nextPrune_ = now + std::chrono::minutes(1);
    for (Table* table : {&names_, &addresses_}) {
        std::erase_if(*table, [&](const auto& item) {
            return now >= item.second.lockedUntil && now - item.second.last > kForgetAfter;
        });
    }
}
