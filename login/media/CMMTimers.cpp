#include "CMMTimers.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

using Clock = std::chrono::steady_clock;

// Shared between the object and its thread, so that a thread whose owner was destroyed from
// inside its own tick can still find out, after the tick, that it has to leave.
struct CMMTimers::State {
    std::mutex mutex;
    std::condition_variable wake;
    CMMTimers* owner = nullptr;  // null once the owner is gone
    std::thread thread;
    unsigned generation = 0;     // a thread leaves as soon as this is no longer its own
    bool active = false;
    bool oneShot = false;
    unsigned timerId = 0;
    unsigned nextId = 0;
    Clock::time_point start;
    Clock::duration period{};
    unsigned long long tick = 0;  // ticks run since `start`

    static void Run(std::shared_ptr<State> self, unsigned generation);
};

namespace {
// Which timer (and which of its generations) the calling thread runs, if any.
thread_local const void* tlsState = nullptr;
thread_local unsigned tlsGeneration = 0;
}  // namespace

void CMMTimers::State::Run(std::shared_ptr<State> self, unsigned generation) {
    tlsState = self.get();
    tlsGeneration = generation;
    std::unique_lock lock(self->mutex);
    for (;;) {
        if (self->generation != generation || self->owner == nullptr) return;
        if (!self->active) {
            self->wake.wait(lock);
            continue;
        }
        const auto due = self->start + self->period * static_cast<long long>(self->tick + 1);
        if (Clock::now() < due) {
            self->wake.wait_until(lock, due);
            continue;  // re-examine: the schedule may have changed while waiting
        }
        ++self->tick;
        if (self->oneShot) {
            self->active = false;
            self->timerId = 0;
        }
        CMMTimers* owner = self->owner;
        lock.unlock();
        owner->OnTimer();
        lock.lock();
    }
}

CMMTimers::CMMTimers(unsigned resolution) : resolution_(resolution), state_(std::make_shared<State>()) {
    state_->owner = this;
}

CMMTimers::~CMMTimers() {
    std::unique_lock lock(state_->mutex);
    state_->owner = nullptr;
    state_->active = false;
    state_->timerId = 0;
    ++state_->generation;
    state_->wake.notify_all();
    if (!state_->thread.joinable()) return;
    if (state_->thread.get_id() == std::this_thread::get_id()) {
        // Destroyed from inside a tick: the thread finds `owner` null when the tick returns.
        state_->thread.detach();
        return;
    }
    std::thread thread = std::move(state_->thread);
    lock.unlock();
    thread.join();
}

bool CMMTimers::StartTimer(unsigned period, bool oneShot) {
    if (period == 0) return false;
    return Start(std::chrono::milliseconds(period), oneShot);
}

bool CMMTimers::StartTimerAtRate(unsigned ticksPerSecond, bool oneShot) {
    if (ticksPerSecond == 0) return false;
    return Start(std::chrono::nanoseconds(std::chrono::seconds(1)) / ticksPerSecond, oneShot);
}

bool CMMTimers::Start(std::chrono::nanoseconds period, bool oneShot) {
    std::unique_lock lock(state_->mutex);
    if (state_->owner == nullptr) return false;
    const bool onOwnThread = tlsState == state_.get();
    // A tick whose thread is being stopped from elsewhere must not set a new schedule.
    if (onOwnThread && tlsGeneration != state_->generation) return false;
    state_->start = Clock::now();
    state_->period = period;
    state_->tick = 0;
    state_->oneShot = oneShot;
    state_->active = true;
    if (++state_->nextId == 0) ++state_->nextId;
    state_->timerId = state_->nextId;
    if (!state_->thread.joinable()) {
        try {
            state_->thread = std::thread(&State::Run, state_, state_->generation);
        } catch (const std::system_error&) {
            state_->active = false;
            state_->timerId = 0;
            return false;
        }
    }
    state_->wake.notify_all();
    return true;
}

bool CMMTimers::StopTimer() {
    std::unique_lock lock(state_->mutex);
    const bool wasSet = state_->timerId != 0;
    state_->active = false;
    state_->timerId = 0;
    if (tlsState == state_.get()) return wasSet;  // inside a tick: no tick after this one
    if (!state_->thread.joinable()) return wasSet;
    ++state_->generation;
    state_->wake.notify_all();
    std::thread thread = std::move(state_->thread);
    lock.unlock();
    thread.join();
    return wasSet;
}

unsigned CMMTimers::TimerId() const {
    std::lock_guard lock(state_->mutex);
    return state_->timerId;
}

unsigned CMMTimers::Period() const {
    std::lock_guard lock(state_->mutex);
    if (state_->timerId == 0) return 0;
    return static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(state_->period).count());
}
