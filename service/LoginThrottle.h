#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "ServiceStore.h"

// Failed log-ins, counted so that guessing is slow without giving anyone the power to keep a
// member out. Member names are public (room pages show them), so nothing a stranger does from
// an address of their own may refuse the member's right password from another address:
//
// - The pair (name, address) is what locks: a few failures are free, after them each failure
//   locks that pair for twice as long as the one before, up to kLongestLock. One address
//   guessing at one name is held to a few tries an hour; the member elsewhere is not touched.
// - A name that fails from many addresses (a guesser with many addresses) is slowed at every
//   address that has not logged in as that name before: there, the pair has no free failures,
//   so each such address gets one try, then 1 s, 2 s, 4 s... A pair without failures is never
//   refused: the member's right password from a new, clean address still goes in.
// - One address failing for many names (spraying one password over many names) locks that
//   address too, but only for at most kLongestAddressLock at a time, and never for names that
//   have logged in from that address before. Members behind one shared (NAT) address who have
//   used it before keep logging in whatever a neighbour does; a member new to that address is
//   kept out only while the address keeps failing, and at most kLongestAddressLock after the
//   last failure. The price is that a sprayer gets about one guess a minute per address.
//
// Nothing here waits: a locked try is answered at once, so a flood of guesses holds no thread
// and runs no password hash. An empty address (a member proving the old password in a password
// change, whose session names them) counts for the name alone.
//
// The counts are kept in the store, so every instance of the service sees the failures the
// others counted, and a restart forgets nothing.
class LoginThrottle {
public:
    // Shared by every machine: the counts are kept as times of the wall clock.
    using Clock = std::chrono::system_clock;

    static constexpr int kFreeFailuresPerPair = 5;
    // Failures of a name, from all addresses, within an hour, above which the name is under
    // attack and addresses new to it lose their free failures.
    static constexpr int kNameUnderAttack = 20;
    // Members behind one NAT share an address.
    static constexpr int kFreeFailuresPerAddress = 50;
    static constexpr std::chrono::seconds kFirstLock{1};
    static constexpr std::chrono::seconds kLongestLock{15 * 60};
    static constexpr std::chrono::seconds kLongestAddressLock{60};
    // How long a log-in from an address vouches for later ones of that name from there.
    static constexpr std::chrono::hours kRememberSuccess{30 * 24};

    explicit LoginThrottle(ServiceStore& store) : store_(store) {}

    // True when this try is to be refused without looking at the password.
    bool Locked(const std::string& name, const std::string& address, Clock::time_point now = Clock::now());
    void Failed(const std::string& name, const std::string& address, Clock::time_point now = Clock::now());
    // Clears the pair's failures, and remembers that the name logs in from this address.
    void Succeeded(const std::string& name, const std::string& address, Clock::time_point now = Clock::now());

private:
    // The store's key of a record: what it counts ('p' pair, 'n' name, 'a' address, 'k' a pair
    // that logged in) and whose, hashed, so a guesser's long or odd names take no room.
    static std::string Key(char kind, const std::string& name, const std::string& address = {});
    // Counts a failure; `free` failures lock nothing, each further one locks for twice as long
    // as the one before, up to `longest`. A count idle for an hour starts again. Returns the
    // count.
    int64_t Count(const std::string& key, int free, std::chrono::seconds longest, Clock::time_point now);
    bool IsLocked(const std::string& key, Clock::time_point now);
    bool Known(const std::string& name, const std::string& address, Clock::time_point now);
    // Forgets records idle longer than they matter, so the table stays small.
    void Prune(Clock::time_point now);

    ServiceStore& store_;
    std::mutex pruneMutex_;
    Clock::time_point nextPrune_{};
};
