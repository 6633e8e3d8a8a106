#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

// Failed log-ins, counted per member name and per client address. A few failures are free;
// after them each failure locks the name (or the address) for twice as long as the one before,
// up to a limit. A success clears the name's count. Nothing here waits: a locked try is
// answered at once, so a flood of guesses holds no thread and runs no password hash.
class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kFreeFailuresPerName = 5;
    // Members behind one NAT share an address.
    static constexpr int kFreeFailuresPerAddress = 50;
    static constexpr std::chrono::seconds kFirstLock{1};
    static constexpr std::chrono::seconds kLongestLock{15 * 60};

    bool Locked(const std::string& name, const std::string& address, Clock::time_point now = Clock::now());
    // An empty `address` counts for the name only.
    void Failed(const std::string& name, const std::string& address, Clock::time_point now = Clock::now());
    void Succeeded(const std::string& name);

private:
    struct Record {
        int failures = 0;
        Clock::time_point lockedUntil{};
        Clock::time_point last{};
    };
    using Table = std::unordered_map<std::string, Record>;

    static void Count(Table& table, const std::string& key, int free, Clock::time_point now);
    static bool IsLocked(const Table& table, const std::string& key, Clock::time_point now);
    // Forgets records idle longer than the longest lock, so the tables stay small.
    void Prune(Clock::time_point now);

    std::mutex mutex_;
    Table names_;
    Table addresses_;
    Clock::time_point nextPrune_{};
};
