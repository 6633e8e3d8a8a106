// The broadcast's health figures and the bit rate that follows the network, apart from any
// encoder or network: the writer's looks are played in by hand, on a clock of the test's own.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BitRateAdaptation.h"
#include "StreamHealth.h"

namespace {

constexpr long kChosen = 484400;  // the member's 500 kbit/s less the sound's share
constexpr long kAudio = 15600;

struct Look {
    long long ms;
    int queuedMs;
    long sent;     // bits/s measured, -1 not yet
    long target;   // what the adaptation answers
    const char* why;
};

struct AdaptationCase {
    const char* name;
    std::vector<Look> looks;
};

class BitRateAdaptationTest : public ::testing::TestWithParam<AdaptationCase> {};

TEST_P(BitRateAdaptationTest, FollowsTheQueue) {
    BitRateAdaptation adaptation(kChosen, kAudio);
    for (const Look& look : GetParam().looks) {
        SCOPED_TRACE(look.why);
        EXPECT_EQ(look.target, adaptation.Update(look.ms, look.queuedMs, look.sent));
    }
}

// 250 kbit/s measured: 85 % of it, less the sound, is left for the picture.
constexpr long kFromHalfLink = static_cast<long>((250000 - kAudio) * BitRateAdaptation::kDrainShare);

INSTANTIATE_TEST_SUITE_P(
    Looks, BitRateAdaptationTest,
    ::testing::Values(
        AdaptationCase{"AShortQueueKeepsTheChoice",
                       {{0, 0, -1, kChosen, "start"},
                        {5000, 100, 480000, kChosen, "one picture waiting is no congestion"},
                        {9000, 0, 480000, kChosen, "never above the choice"}}},
        AdaptationCase{"AGrowingQueueLowersToTheMeasuredRateAndHalvesWhileItStillGrows",
                       {{0, 0, -1, kChosen, "start"},
                        {500, 400, -1, kChosen, "nothing measured yet: nothing decided"},
                        {1500, 400, 250000, kChosen / 2, "the link's rate is below half: half first"},
                        {2000, 420, 250000, kChosen / 2, "a second between decisions"},
                        {2500, 450, 250000, kFromHalfLink, "then down to the link's"},
                        {4000, 600, 250000, kFromHalfLink / 2, "still growing: halved, whatever was measured"},
                        {5000, 550, 250000, kFromHalfLink / 2, "shrinking: the measurement holds, no lower"}}},
        AdaptationCase{"AShortQueueClimbsBackByATenthEveryTwoSeconds",
                       {{0, 0, -1, kChosen, "start"},
                        {1000, 300, 250000, kChosen / 2, "lowered"},
                        {1100, 100, 250000, kChosen / 2, "not short yet"},
                        {1200, 0, 250000, kChosen / 2, "short from here"},
                        {3100, 0, 250000, kChosen / 2, "not two seconds yet"},
                        {3200, 0, 250000, kChosen / 2 + kChosen / 10, "a tenth up"},
                        {4000, 150, 250000, kChosen / 2 + kChosen / 10, "the queue grew again: no climbing"},
                        {4100, 0, 250000, kChosen / 2 + kChosen / 10, "short again from here"},
                        {6100, 0, 250000, kChosen / 2 + 2 * (kChosen / 10), "another tenth"},
                        {8100, 0, 250000, kChosen / 2 + 3 * (kChosen / 10), ""},
                        {10100, 0, 250000, kChosen / 2 + 4 * (kChosen / 10), ""},
                        {12100, 0, 250000, kChosen / 2 + 5 * (kChosen / 10), ""},
                        {14100, 0, 250000, kChosen, "and no further than the choice"}}},
        AdaptationCase{"ADeadLinkStopsAtTheFloor",
                       {{0, 0, -1, kChosen, "start"},
                        {1000, 2000, 0, kChosen / 2, ""},
                        {2000, 2000, 0, kChosen / 4, ""},
                        {3000, 2000, 0, kChosen / 8, ""},
                        {4000, 2000, 0, kChosen / 10, "a tenth of the choice at least"},
                        {5000, 2000, 0, kChosen / 10, ""}}}),
    [](const auto& test) { return std::string(test.param.name); });

// The backlog rule threw the queue away: the rate comes down at once, however it was measured.
TEST(BitRateAdaptationDiscard, HalvesAtLeast) {
    BitRateAdaptation adaptation(kChosen, kAudio);
    adaptation.Update(0, 0, -1);
    adaptation.Discarded(100, -1);
    EXPECT_EQ(kChosen / 2, adaptation.Target());
    adaptation.Discarded(200, 100000);
    EXPECT_EQ(kChosen / 4, adaptation.Target()) << "halved again, no lower";
    adaptation.Discarded(300, 10000000);
    EXPECT_EQ(kChosen / 4, adaptation.Target()) << "a discard never raises the rate";
}

class StreamHealthTest : public ::testing::Test {
protected:
    // The writer sending `bitsPerSecond` for `ms`, looking every tenth of a second.
    void Send(long bitsPerSecond, long long ms, int queuedMs = 0) {
        for (long long end = now_ + ms; now_ < end;) {
            now_ += 100;
            health_.Sent(bitsPerSecond / 80, true);
            health_.Sample(now_, queuedMs, 400000);
        }
    }

    StreamHealth health_;
    long long now_ = 50000;
};

TEST_F(StreamHealthTest, TheRateIsWhatLeftOverTheLastTwoSeconds) {
    health_.Begin(now_);
    EXPECT_EQ(-1, health_.BitsPerSecond(StreamHealth::kRateWindowMs));
    Send(400000, 1100);
    EXPECT_EQ(-1, health_.BitsPerSecond(StreamHealth::kRateWindowMs)) << "one second cannot tell two";
    EXPECT_EQ(400000, health_.BitsPerSecond(1000));
    Send(400000, 1400);
    Send(100000, 2000);
    EXPECT_EQ(100000, health_.BitsPerSecond(StreamHealth::kRateWindowMs)) << "older seconds left out";
    EXPECT_LT(health_.BitsPerSecond(StreamHealth::kRateWindowMs, now_ + 2000), 10000)
        << "a writer held up for two seconds sent nothing in them";
    const StreamHealth::Figures f = health_.Read(now_);
    EXPECT_EQ(100, f.kbitPerSecond);
    EXPECT_EQ(45, f.framesSent);
    EXPECT_EQ(4, f.onAirSeconds);
    EXPECT_EQ(400, f.targetKbitPerSecond);
    EXPECT_TRUE(f.live);
}

TEST_F(StreamHealthTest, TheMarkHoldsTheWorstOfTheLastSeconds) {
    health_.Begin(now_);
    Send(400000, 3000);
    EXPECT_EQ(StreamHealth::Mark::Green, health_.Read(now_).mark);
    Send(400000, 300, StreamHealth::kYellowMs);
    EXPECT_EQ(StreamHealth::Mark::Yellow, health_.Read(now_).mark) << "the queue grew";
    Send(400000, 300, StreamHealth::kRedMs);
    EXPECT_EQ(StreamHealth::Mark::Red, health_.Read(now_).mark) << "seconds were waiting";
    Send(400000, StreamHealth::kMarkHoldMs - 200);
    EXPECT_EQ(StreamHealth::Mark::Red, health_.Read(now_).mark) << "held for a few seconds";
    Send(400000, 300);
    EXPECT_EQ(StreamHealth::Mark::Green, health_.Read(now_).mark) << "and then forgotten";
    health_.Dropped(30, now_);
    EXPECT_EQ(StreamHealth::Mark::Red, health_.Read(now_).mark) << "pictures thrown away";
    EXPECT_EQ(30, health_.Read(now_).framesDropped);
}

TEST(StreamHealthText, SaysWhatTheMemberNeeds) {
    StreamHealth::Figures f;
    f.live = true;
    f.onAirSeconds = 3 * 3600 + 7 * 60 + 5;
    f.kbitPerSecond = 486;
    f.framesSent = 7400;
    f.framesDropped = 100;
    EXPECT_EQ("3:07:05  486 kbit/s  发送 7400 帧  丢弃 100 帧 (1.3%)", StreamHealth::Text(f));
    f.framesSent = f.framesDropped = 0;
    EXPECT_EQ("3:07:05  486 kbit/s  发送 0 帧  丢弃 0 帧 (0.0%)", StreamHealth::Text(f)) << "no division by nothing";
    f.reconnecting = true;
    EXPECT_EQ("正在重新连接… 3:07:05", StreamHealth::Text(f));
}

// A new broadcast starts its figures anew.
TEST_F(StreamHealthTest, BeginStartsAnew) {
    health_.Begin(now_);
    Send(400000, 3000, StreamHealth::kRedMs);
    health_.Dropped(5, now_);
    health_.SetReconnecting(true);
    health_.Begin(now_);
    const StreamHealth::Figures f = health_.Read(now_);
    EXPECT_EQ(0, f.framesSent);
    EXPECT_EQ(0, f.framesDropped);
    EXPECT_EQ(0, f.kbitPerSecond);
    EXPECT_FALSE(f.reconnecting);
    EXPECT_EQ(StreamHealth::Mark::Green, f.mark);
}

}  // namespace
