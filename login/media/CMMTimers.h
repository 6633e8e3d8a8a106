#pragma once

#include <chrono>
#include <memory>

// Periodic timer on a thread of its own. Deadlines are absolute on the steady clock: tick n is
// due at start + n × period, so a late tick never shifts the ones after it (a tick that overran
// is followed at once by the next one that is due).
//
// OnTimer runs on the timer thread. StartTimer and StopTimer may be called from any thread,
// including from inside OnTimer (a tick that stops and restarts the timer is how a stream is
// reopened). A class that overrides OnTimer must call StopTimer in its own destructor, before
// its members go away; the destructor here only covers the base.
class CMMTimers {
public:
    // The resolution is accepted for the callers' sake: steady-clock sleeps need no reservation.
    explicit CMMTimers(unsigned resolution);
    virtual ~CMMTimers();
    CMMTimers(const CMMTimers&) = delete;
    CMMTimers& operator=(const CMMTimers&) = delete;

    // Starts (or restarts) ticking every `period` ms, the first tick one period from now; with
    // `oneShot` only that first tick happens. False when the period is 0 or the thread cannot
    // be started.
    bool StartTimer(unsigned period, bool oneShot);
    // The same, ticking exactly `ticksPerSecond` times a second: a period of 1000/15 ms rounded
    // to 66 ms would run a picture clock 1 % fast, and its time stamps would leave the sound
    // behind by more than half a second a minute.
    bool StartTimerAtRate(unsigned ticksPerSecond, bool oneShot);

    // After it returns on any thread but the timer's own, no OnTimer runs or will run. Inside
    // OnTimer it only cancels the ticks to come. False when no timer was running.
    bool StopTimer();

    // Non-zero while a timer is set; a new value on every successful StartTimer.
    unsigned TimerId() const;
    // The period in ms of the timer that is set; 0 when none is.
    unsigned Period() const;
    unsigned Resolution() const { return resolution_; }

    // Called on every tick; does nothing here.
    virtual void OnTimer() {}

private:
    struct State;
    bool Start(std::chrono::nanoseconds period, bool oneShot);
    unsigned resolution_;
    std::shared_ptr<State> state_;
};
