#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "CMMTimers.h"
#include "CPacketQueue.h"
#include "WaitFor.h"

using testsupport::WaitFor;

using Clock = std::chrono::steady_clock;

namespace {

class RecordingTimer : public CMMTimers {
public:
    RecordingTimer() : CMMTimers(1) {}
    ~RecordingTimer() override { StopTimer(); }
    void OnTimer() override {
        std::function<void()> action;
        {
            std::lock_guard lock(mutex_);
            ticks_.push_back(Clock::now());
            action = onTick_;
        }
        if (action) action();
    }
    std::vector<Clock::time_point> Ticks() {
        std::lock_guard lock(mutex_);
        return ticks_;
    }
    void OnTick(std::function<void()> action) {
        std::lock_guard lock(mutex_);
        onTick_ = std::move(action);
    }

private:
    std::mutex mutex_;
    std::vector<Clock::time_point> ticks_;
    std::function<void()> onTick_;
};

}  // namespace

// Tick n is due at start + n × period: slow ticks delay the next one, never the schedule.
// Judged without a margin for lateness, which a busy machine can exceed at will: no tick comes
// before its own due time, and the ticks that fell behind follow at once, closer together than
// a period, which a timer that counted each period from the tick before never does.
TEST(CMMTimersTest, PeriodDoesNotDrift) {
    RecordingTimer timer;
    std::atomic<int> count{0};
    std::promise<void> twentieth;
    timer.OnTick([&] {
        const int n = ++count;
        if (n <= 3) std::this_thread::sleep_for(std::chrono::milliseconds(40));  // overrun
        if (n == 20) {
            timer.StopTimer();
            twentieth.set_value();
        }
    });
    const auto start = Clock::now();
    ASSERT_TRUE(timer.StartTimer(30, false));
    EXPECT_NE(0u, timer.TimerId());
    ASSERT_EQ(std::future_status::ready, twentieth.get_future().wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(0u, timer.TimerId());
    const auto ticks = timer.Ticks();
    ASSERT_EQ(20u, ticks.size());
    for (size_t k = 0; k < ticks.size(); ++k)
        EXPECT_GE(ticks[k] - start, std::chrono::milliseconds(30 * (k + 1))) << "tick " << k + 1 << " came early";
    // The fourth tick runs at 150 ms at the earliest, when the fifth is already due.
    Clock::duration closest = Clock::duration::max();
    for (size_t k = 4; k < ticks.size(); ++k) closest = std::min(closest, ticks[k] - ticks[k - 1]);
    EXPECT_LT(closest, std::chrono::milliseconds(15)) << "the ticks that fell behind were not caught up";
    EXPECT_FALSE(timer.StopTimer());
    EXPECT_FALSE(timer.StartTimer(0, false));
}

// 15 ticks a second are 15, not the 15.15 of a period rounded to 66 ms: a picture clock that
// ran fast would leave the sound behind.
TEST(CMMTimersTest, ARateIsKeptExactly) {
    RecordingTimer timer;
    std::atomic<int> count{0};
    std::promise<void> thirtieth;
    timer.OnTick([&] {
        if (++count != 30) return;
        timer.StopTimer();
        thirtieth.set_value();
    });
    const auto start = Clock::now();
    ASSERT_TRUE(timer.StartTimerAtRate(15, false));
    EXPECT_EQ(66u, timer.Period());
    ASSERT_EQ(std::future_status::ready, thirtieth.get_future().wait_for(std::chrono::seconds(10)));
    const auto ticks = timer.Ticks();
    ASSERT_EQ(30u, ticks.size());
    EXPECT_GE(ticks.back() - start, std::chrono::milliseconds(2000));  // 30 × 66 ms would be 1980
    EXPECT_FALSE(timer.StartTimerAtRate(0, false));
}

TEST(CMMTimersTest, OneShotTicksOnce) {
    RecordingTimer timer;
    ASSERT_TRUE(timer.StartTimer(10, true));
    ASSERT_TRUE(WaitFor([&] { return !timer.Ticks().empty(); }));
    // The tick ended the timer: no other can follow.
    EXPECT_EQ(0u, timer.TimerId());
    EXPECT_EQ(1u, timer.Ticks().size());
    EXPECT_FALSE(timer.StopTimer());  // it already ended
}

// A tick may stop the timer and start it again (the reconnection does), or stop it for good.
TEST(CMMTimersTest, StopAndRestartFromInsideATick) {
    RecordingTimer timer;
    std::atomic<int> count{0};
    timer.OnTick([&] {
        const int n = ++count;
        if (n == 2) {
            EXPECT_TRUE(timer.StopTimer());
            EXPECT_TRUE(timer.StartTimer(10, false));
        } else if (n == 5) {
            EXPECT_TRUE(timer.StopTimer());
        }
    });
    ASSERT_TRUE(timer.StartTimer(10, false));
    ASSERT_TRUE(WaitFor([&] { return count.load() >= 5; }));
    // The fifth tick stopped it for good.
    EXPECT_EQ(0u, timer.TimerId());
    EXPECT_EQ(5, count.load());
    // And the stopped timer starts again from outside.
    ASSERT_TRUE(timer.StartTimer(10, false));
    EXPECT_TRUE(WaitFor([&] { return count.load() >= 8; }));
    timer.StopTimer();
}

// The owner may destroy the timer object from inside its own tick; the thread must not touch
// it afterwards (AddressSanitizer reports it if it does).
TEST(CMMTimersTest, DestroyedInsideItsOwnTick) {
    for (int round = 0; round < 20; ++round) {
        auto* timer = new RecordingTimer;
        std::atomic<bool> done{false};
        timer->OnTick([timer, &done] {
            delete timer;
            done = true;
        });
        ASSERT_TRUE(timer->StartTimer(2, false));
        ASSERT_TRUE(WaitFor([&] { return done.load(); }));
    }
    // The detached threads leave after their last tick; this is the time they have to do
    // something wrong that AddressSanitizer would see.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TEST(CMMTimersTest, StopFromOutsideWhileTicking) {
    for (int round = 0; round < 50; ++round) {
        RecordingTimer timer;
        timer.OnTick([] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
        ASSERT_TRUE(timer.StartTimer(1, false));
        std::this_thread::sleep_for(std::chrono::microseconds(500 * (round % 5)));
        timer.StopTimer();
        const auto count = timer.Ticks().size();
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        EXPECT_EQ(count, timer.Ticks().size());
    }
}

TEST(CPacketQueueTest, FirstInFirstOut) {
    CPacketQueue queue;
    for (unsigned char i = 0; i < 20; ++i) {
        auto entry = std::make_unique<mem_buffer>(1);
        entry->append(&i, 1);
        queue.Push(std::move(entry));
    }
    EXPECT_EQ(20u, queue.Count());
    CPacketQueue::Entry entry;
    for (unsigned char i = 0; i < 20; ++i) {
        ASSERT_TRUE(queue.Pop(entry));
        EXPECT_EQ(i, entry->data()[0]);
    }
    EXPECT_FALSE(queue.Pop(entry));
    EXPECT_TRUE(queue.Empty());
    queue.Push(std::make_unique<mem_buffer>(4));
    EXPECT_EQ(1u, queue.Clear());
    EXPECT_EQ(0u, queue.Count());
}
