// The broadcast through a bad network: the sender publishes to nginx through a relay of ours
// that delays, holds back, slows down or stops the data while the broadcast runs. What nginx
// recorded is read back and decoded as a viewer would.

#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "CSendDataStream.h"
#include "FakePlatform.h"
#include "FaultRelay.h"
#include "LinkUnderTest.h"
#include "NginxRtmpServer.h"
#include "RecordingCheck.h"

using namespace testsupport;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::string privateNetworkProblem = "not set up";

class NetworkFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!privateNetworkProblem.empty()) GTEST_SKIP() << "needs a network namespace (root): " << privateNetworkProblem;
        ASSERT_TRUE(nginx_.Start()) << nginx_.ErrorLog();
        ASSERT_TRUE(relay_.Start()) << relay_.Error();
    }

    std::string RelayUrl(const std::string& name) const {
        return "rtmp://127.0.0.1:" + std::to_string(relay_.Port()) + "/live/" + name;
    }

    std::unique_ptr<CSendDataStream> Sender(const CStreamSettings& s) {
        return std::make_unique<CSendDataStream>(&owner_, &s, capture_, NoDeviceAudio());
    }

    // The broadcast is over once nginx has closed its side (and its recording).
    bool WaitAllClosed() {
        const auto end = Clock::now() + 20s;
        while (relay_.OpenConnections() > 0 && Clock::now() < end) std::this_thread::sleep_for(20ms);
        return relay_.OpenConnections() == 0;
    }

    // Runs until `until`, returning the longest time in which nothing reached nginx.
    Clock::duration RunWatchingArrivals(Clock::time_point until) {
        ArrivalWatch arrivals(relay_);
        while (Clock::now() < until && owner_.Reasons().empty()) {
            std::this_thread::sleep_for(10ms);
            arrivals.Look();
        }
        return arrivals.Longest();
    }

    NginxRtmpServer nginx_;
    FaultRelay relay_{"127.0.0.1", nginx_.RtmpPort()};
    std::shared_ptr<platform::IGameCapture> capture_ = std::make_shared<NoiseCapture>();
    RecordingOwner owner_;
};

void ExpectMonotonic(const RecordedStream& rec) {
    for (std::size_t i = 1; i < rec.video.size(); ++i)
        ASSERT_GT(rec.video[i].pts, rec.video[i - 1].pts) << "video picture " << i;
    for (std::size_t i = 1; i < rec.audioPts.size(); ++i)
        ASSERT_GT(rec.audioPts[i], rec.audioPts[i - 1]) << "audio frame " << i;
}

}  // namespace

// 150 ms ± 20 ms each way and a 200 ms hold every 2 s, for a minute: the broadcast never
// stops, nothing is thrown away, and the pictures reach nginx at the frame rate.
TEST_F(NetworkFaultTest, DelayJitterAndHoldBackForAMinute) {
    relay_.SetDelay(150, 20);
    relay_.SetHoldBack(2000, 200);
    const CStreamSettings s = DefaultStream(RelayUrl("slow"));
    auto sender = Sender(s);
    ASSERT_EQ(1, sender->Start(capture_, "game"));
    const auto started = Clock::now();
    const auto stall = RunWatchingArrivals(started + 60s);
    EXPECT_TRUE(owner_.Reasons().empty());
    EXPECT_EQ(0, sender->Reopens());
    EXPECT_EQ(0u, sender->Encoder().DiscardedPackets());
    // A hold of 200 ms plus the jitter is the longest nginx should wait for data (with room
    // for a busy machine).
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(stall).count(), 1000);
    sender.reset();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    ASSERT_TRUE(WaitAllClosed());

    const RecordedStream rec = ReadRecording(nginx_.Recording("slow"));
    ASSERT_TRUE(rec.opened);
    const double rate = static_cast<double>(rec.video.size()) / seconds;
    std::printf("%zu pictures in %.1f s: %.2f/s; %.0f kbit/s of video\n", rec.video.size(), seconds, rate,
                static_cast<double>(rec.videoBytes) * 8 / seconds / 1000);
    EXPECT_NEAR(10.0, rate, 0.5);
    ExpectMonotonic(rec);
    ASSERT_FALSE(rec.video.empty());
    EXPECT_TRUE(rec.video.front().key);
    int gaps = 0, errors = 0;
    for (const auto& p : rec.video) {
        gaps += p.gapBefore;
        errors += p.decodeError;
    }
    EXPECT_EQ(0, gaps);
    EXPECT_EQ(0, errors);
    EXPECT_GT(rec.audioPts.size(), 500u);  // silence at 22050/1024 frames a second
}

// The link at half the bit rate for 20 s, then back; later it stops for 5 s and comes back.
// Each time the backlog rule throws packets away, and the next pictures start from a key frame:
// a viewer's decoder reports nothing wrong from that key frame on. The broadcast never stops.
TEST_F(NetworkFaultTest, BacklogDiscardsAreFollowedByAKeyFrame) {
    CStreamSettings s = DefaultStream(RelayUrl("narrow"));
    // The backlog rule alone: a bit rate that follows the link would keep the queue short.
    s.adaptiveBitRate = false;
    auto sender = Sender(s);
    ASSERT_EQ(1, sender->Start(capture_, "game"));
    const auto started = Clock::now();
    RunWatchingArrivals(started + 3s);

    relay_.SetRate(s.bitRate / 2);
    const auto limited = Clock::now();
    RunWatchingArrivals(limited + 20s);
    const auto discardedWhileLimited = sender->Encoder().DiscardedPackets();
    relay_.SetRate(0);
    RunWatchingArrivals(Clock::now() + 6s);

    const auto discardedBeforeStop = sender->Encoder().DiscardedPackets();
    relay_.SetForwarding(false);
    RunWatchingArrivals(Clock::now() + 5s);
    relay_.SetForwarding(true);
    const long long framesAtResume = sender->Encoder().VideoFramesEncoded();
    RunWatchingArrivals(Clock::now() + 6s);

    EXPECT_TRUE(owner_.Reasons().empty());
    EXPECT_EQ(0, sender->Reopens());
    EXPECT_EQ(1, sender->Started());
    EXPECT_GT(discardedWhileLimited, 0u) << "half the bit rate for 20 s must overflow the backlog";
    std::printf("%llu packets discarded while limited, %llu while stopped\n",
                static_cast<unsigned long long>(discardedWhileLimited),
                static_cast<unsigned long long>(sender->Encoder().DiscardedPackets() - discardedBeforeStop));
    EXPECT_GE(sender->Encoder().VideoFramesEncoded(), framesAtResume + 40);
    sender.reset();
    ASSERT_TRUE(WaitAllClosed());

    const RecordedStream rec = ReadRecording(nginx_.Recording("narrow"));
    ASSERT_TRUE(rec.opened);
    ASSERT_FALSE(rec.video.empty());
    ExpectMonotonic(rec);
    EXPECT_TRUE(rec.video.front().key);
    // After a gap in frame_num (pictures thrown away), a key frame comes within a few pictures
    // (those the encoder was still working on), and from it on nothing fails to decode until
    // the next gap.
    int gaps = 0;
    bool clean = true;  // since the last key frame
    std::size_t lastGap = 0;
    for (std::size_t i = 0; i < rec.video.size(); ++i) {
        const auto& p = rec.video[i];
        if (p.gapBefore) {
            ++gaps;
            std::size_t key = i;
            int errors = 0;
            while (key < rec.video.size() && !rec.video[key].key) errors += rec.video[key++].decodeError;
            std::printf("gap before picture %zu (frame_num %d): key frame %zu pictures later, %d pictures with "
                        "decoder errors before it\n",
                        i, p.frameNum, key - i, errors);
            if (gaps > 1) {
                EXPECT_TRUE(clean) << "a gap at " << i << " before the key frame for the gap at " << lastGap;
            }
            clean = false;
            lastGap = i;
        }
        if (p.key) clean = true;
        if (clean) {
            EXPECT_FALSE(p.decodeError) << "decoder error at picture " << i << " after a key frame";
        } else if (i - lastGap == 8) {
            ADD_FAILURE() << "no key frame within 8 pictures after the gap at " << lastGap;
        }
    }
    EXPECT_TRUE(clean) << "the recording ends before the key frame that follows the gap at " << lastGap;
    EXPECT_GE(gaps, 1);
    std::printf("%zu pictures, %d gaps, %llu packets discarded\n", rec.video.size(), gaps,
                static_cast<unsigned long long>(discardedWhileLimited));
    // The broadcast went on after the faults: the last 6 s are in the recording.
    std::size_t afterLastGap = rec.video.size() - lastGap;
    EXPECT_GE(afterLastGap, 40u);
}

// The link at half the bit rate for 20 s, then back: the picture's bit rate comes down to what
// the link carries before the backlog rule has to throw anything away, the member sees it on the
// health line while it lasts, and the rate climbs back to the member's choice once the link
// recovers.
TEST_F(NetworkFaultTest, AHalfRateLinkIsMetByALowerBitRate) {
    const CStreamSettings s = DefaultStream(RelayUrl("adapt"));
    auto sender = Sender(s);
    ASSERT_EQ(1, sender->Start(capture_, "game"));
    const long chosen = s.bitRate - CStreamEncoder::kAudioBitRate;
    RunWatchingArrivals(Clock::now() + 3s);
    EXPECT_EQ(chosen, sender->Encoder().VideoBitRate());

    relay_.SetRate(s.bitRate / 2);
    const auto limited = Clock::now();
    long lowest = chosen;
    StreamHealth::Mark worst = StreamHealth::Mark::Green;
    const auto now = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
    };
    while (Clock::now() < limited + 20s && owner_.Reasons().empty()) {
        std::this_thread::sleep_for(50ms);
        lowest = std::min(lowest, sender->Encoder().VideoBitRate());
        worst = std::max(worst, sender->Health().Read(now()).mark);
    }
    const auto whileLimited = sender->Health().Read(now());
    relay_.SetRate(0);
    const auto recovered = Clock::now();
    const bool climbed = WaitFor([&] { return sender->Encoder().VideoBitRate() == chosen; }, 60s);
    const double climbSeconds = std::chrono::duration<double>(Clock::now() - recovered).count();
    std::printf("lowest %ld bit/s of %ld, %llu packets discarded, climbed back in %.1f s; health while limited: %s\n",
                lowest, chosen, static_cast<unsigned long long>(sender->Encoder().DiscardedPackets()), climbSeconds,
                StreamHealth::Text(whileLimited).c_str());
    EXPECT_TRUE(owner_.Reasons().empty());
    EXPECT_EQ(0u, sender->Encoder().DiscardedPackets()) << "the backlog rule had to throw pictures away";
    EXPECT_LT(lowest, s.bitRate / 2) << "the bit rate did not come down to the link's";
    EXPECT_NE(StreamHealth::Mark::Green, worst) << "the health line never showed the slow link";
    EXPECT_GT(whileLimited.kbitPerSecond, 0);
    EXPECT_LT(whileLimited.kbitPerSecond, s.bitRate / 1000 * 3 / 4) << "the line shows more than the link carries";
    EXPECT_TRUE(climbed) << "the bit rate stayed at " << sender->Encoder().VideoBitRate();
}

// The member presses stop while the broken stream is being reopened, and the server takes the
// connection but never answers (the network went away behind it): the stop gives the connection
// up at once instead of waiting out its 10 s time-out, and nothing more is reported to the owner,
// who is ending the broadcast itself.
TEST_F(NetworkFaultTest, StopDuringAHangingReopenEndsAtOnce) {
    const CStreamSettings s = DefaultStream(RelayUrl("hang"));
    auto sender = Sender(s);
    ASSERT_EQ(1, sender->Start(capture_, "game"));
    ASSERT_TRUE(WaitFor([&] { return sender->Encoder().VideoFramesEncoded() >= 5; }, 10s));
    relay_.SetForwarding(false);  // connections are taken, and nothing reaches nginx
    relay_.CutConnections();      // the stream breaks: a tick reopens it
    ASSERT_TRUE(WaitFor([&] { return relay_.Accepted() >= 2; }, 10s)) << "no reopening";
    ASSERT_EQ(0, sender->Reopens()) << "the reopening did not wait for the server's answer";

    const auto start = Clock::now();
    sender.reset();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(took, 3000ms) << "the stop waited for the reopening";
    EXPECT_TRUE(owner_.Reasons().empty());
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Before any thread starts: the namespace is the calling thread's, and what it starts.
    if (!::testing::GTEST_FLAG(list_tests)) privateNetworkProblem = EnterPrivateNetwork();
    return RUN_ALL_TESTS();
}
