#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "CSendDataStream.h"
#include "FakePlatform.h"
#include "MediaProbe.h"
#include "NginxRtmpServer.h"
#include "TempDir.h"
#include "WaitFor.h"

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

CStreamSettings Settings(const std::string& url, int audioEnabled = 0) {
    CStreamSettings s;
    s.sourceWidth = 320;
    s.sourceHeight = 240;
    s.width = 160;
    s.height = 120;
    s.frameRate = 15;
    s.quality = 0;
    s.url = url;
    s.audioEnabled = audioEnabled;
    s.bitRate = 300000;
    return s;
}

using State = platform::IGameCapture::State;
using Result = platform::IGameCapture::Result;

// A game and the sender's view of it.
struct Rig {
    FakeGame game;
    std::shared_ptr<platform::IGameCapture> Capture() { return game.Capture(); }
};

int CountPackets(const std::string& file, const std::string& type) {
    int n = 0;
    for (const auto& p : ProbePackets(file)) n += p.type == type;
    return n;
}

}  // namespace

TEST(CSendDataStreamTest, FrameRateGivesThePeriodAndDepthIsClassed) {
    EXPECT_EQ(1, CSendDataStream::ClassifyDepth(1));
    EXPECT_EQ(4, CSendDataStream::ClassifyDepth(3));
    EXPECT_EQ(8, CSendDataStream::ClassifyDepth(8));
    EXPECT_EQ(24, CSendDataStream::ClassifyDepth(16));
    EXPECT_EQ(32, CSendDataStream::ClassifyDepth(32));

    // The sender's timer ticks every 1000 / rate ms, truncated.
    TempDir dir;
    const struct {
        int frameRate;
        unsigned period;
    } cases[] = {{15, 66}, {10, 100}, {8, 125}, {7, 142}, {30, 33}};
    for (const auto& c : cases) {
        RecordingOwner owner;
        Rig rig;
        CStreamSettings s = Settings(dir / ("rate" + std::to_string(c.frameRate) + ".flv"));
        s.frameRate = c.frameRate;
        CSendDataStream sender(&owner, &s, rig.Capture(), NoDeviceAudio());
        EXPECT_EQ(0u, sender.Period());
        ASSERT_EQ(1, sender.Start(rig.Capture(), "game")) << c.frameRate;
        EXPECT_EQ(c.period, sender.Period()) << c.frameRate;
        sender.Stop();
        EXPECT_EQ(0u, sender.Period());
    }
}

// Sound off gives silence at the normal rate, even with no capture device at all. A capture
// with nothing new sends the last picture again at the same rate; a failed capture sends
// nothing and the next tick tries again; the arrow is drawn where the capture says the pointer
// is. None of these ends the broadcast.
TEST(CSendDataStreamTest, UnchangedFailedPicturesAndTheArrow) {
    TempDir dir;
    RecordingOwner owner;
    Rig rig;
    const CStreamSettings s = Settings(dir / "paths.flv");
    {
        CSendDataStream sender(&owner, &s, rig.Capture(), NoDeviceAudio());
        EXPECT_EQ(320, sender.StartSize().width);
        EXPECT_EQ(0, sender.Start(nullptr, "game"));  // no capture
        ASSERT_EQ(1, sender.Start(rig.Capture(), "game"));
        EXPECT_EQ(1, rig.game.activations.load());
        EXPECT_EQ(32, sender.DisplayBits());
        EXPECT_TRUE(sender.AudioCapture().Silent());
        ASSERT_TRUE(WaitFor([&] { return rig.game.captures >= 5; }));

        rig.game.Set([](auto& g) { g.result = Result::Unchanged; });
        const int fresh = rig.game.fresh;
        long long frames = sender.Encoder().VideoFramesEncoded();
        ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= frames + 6; }));
        EXPECT_LE(rig.game.fresh, fresh + 1);

        rig.game.Set([](auto& g) { g.result = Result::Failed; });
        int captures = rig.game.captures;
        ASSERT_TRUE(WaitFor([&] { return rig.game.captures >= captures + 2; }));
        frames = sender.Encoder().VideoFramesEncoded();
        captures = rig.game.captures;
        ASSERT_TRUE(WaitFor([&] { return rig.game.captures >= captures + 4; }));
        EXPECT_LE(sender.Encoder().VideoFramesEncoded(), frames + 1) << "a failed capture sent a picture";

        rig.game.Set([](auto& g) {
            g.result = Result::Fresh;
            g.pointerOver = true;
            g.pointerX = 30;
            g.pointerY = 40;
        });
        frames = sender.Encoder().VideoFramesEncoded();
        ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= frames + 4; }));
        const std::vector<unsigned char> drawn = rig.game.LastHandedBack();
        ASSERT_EQ(320u * 240 * 4, drawn.size());
        auto at = [&](int x, int y) { return drawn[(static_cast<size_t>(y) * 320 + x) * 4]; };
        EXPECT_EQ(0, at(30, 40)) << "the arrow's tip";
        EXPECT_EQ(255, at(31, 42)) << "inside the arrow";
        EXPECT_EQ(1, sender.Started());
    }
    EXPECT_TRUE(owner.Reasons().empty());
    EXPECT_GE(CountPackets(dir / "paths.flv", "video"), 12);
    EXPECT_GE(CountPackets(dir / "paths.flv", "audio"), 8);
}

// Minimised: the last picture again on every tick, and silence. Restored: live again.
TEST(CSendDataStreamTest, MinimisePausesAndRestoreResumes) {
    TempDir dir;
    RecordingOwner owner;
    Rig rig;
    const CStreamSettings s = Settings(dir / "min.flv", 1);
    // Sound on, from a source that delivers a loud sine at the nominal rate.
    struct Loud : platform::IAudioInput {
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        long sent = 0;  // samples
        long Read(unsigned char* out, std::size_t size) override {
            const long due = static_cast<long>(
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count() *
                22050 / 1000000);
            const long n = std::min<long>(static_cast<long>(size / 2), std::max(0L, due - sent));
            if (n <= 0) return 0;
            const auto block = SineBlock(static_cast<int>(n), sent);
            std::memcpy(out, block.data(), block.size());
            sent += n;
            return n * 2;
        }
    };
    auto audio = std::make_unique<CCaptureAudio>(
        [](const std::string&, const platform::AudioFormat&) { return std::make_unique<Loud>(); });
    {
        CSendDataStream sender(&owner, &s, rig.Capture(), std::move(audio));
        ASSERT_EQ(1, sender.Start(rig.Capture(), "game"));
        ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= 12; }));

        rig.game.Set([](auto& g) { g.state = State::Minimised; });
        ASSERT_TRUE(WaitFor([&] { return sender.Paused() == 1; }));
        const int grabs = rig.game.captures;
        const long long frames = sender.Encoder().VideoFramesEncoded();
        ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= frames + 12; }));
        EXPECT_LE(rig.game.captures, grabs + 1);  // nothing grabbed, the last picture sent again

        // While minimised another size is tolerated (an iconified window may report anything).
        rig.game.Set([](auto& g) {
            g.state = State::Shown;
            g.size = {100, 100};
        });
        // Three ticks see it (each sends the last picture again).
        const long long seen = sender.Encoder().VideoFramesEncoded();
        ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= seen + 3; }));
        EXPECT_EQ(1, sender.Paused());
        EXPECT_TRUE(owner.Reasons().empty());

        rig.game.Set([](auto& g) { g.size = {320, 240}; });
        ASSERT_TRUE(WaitFor([&] { return sender.Paused() == 0; }));
        ASSERT_TRUE(WaitFor([&] { return rig.game.captures >= grabs + 12; }));
        EXPECT_TRUE(owner.Reasons().empty());
    }
    // The sound: loud, then silent for the pause, then loud again.
    const std::string raw = Capture("ffmpeg -v error -i '" + (dir / "min.flv") + "' -vn -f s16le -ac 1 -ar 22050 - 2>/dev/null");
    const auto* samples = reinterpret_cast<const int16_t*>(raw.data());
    std::vector<double> rms;  // per 50 ms
    for (size_t at = 0; at + 1102 <= raw.size() / 2; at += 1102) {
        double sum = 0;
        for (size_t i = at; i < at + 1102; ++i) sum += static_cast<double>(samples[i]) * samples[i];
        rms.push_back(std::sqrt(sum / 1102));
    }
    size_t i = 0;
    while (i < rms.size() && rms[i] < 3000) ++i;
    EXPECT_LT(i, rms.size()) << "no live sound before the pause";
    while (i < rms.size() && rms[i] >= 50) ++i;
    size_t quiet = 0;
    while (i < rms.size() && rms[i] < 50) ++i, ++quiet;
    EXPECT_GE(quiet, 6u) << "no silence while minimised";
    while (i < rms.size() && rms[i] < 3000) ++i;
    EXPECT_LT(i, rms.size()) << "no live sound after the restore";
}

TEST(CSendDataStreamTest, ResizedWhileVisibleEndsWithReason1) {
    TempDir dir;
    RecordingOwner owner;
    Rig rig;
    const CStreamSettings s = Settings(dir / "resized.flv");
    CSendDataStream sender(&owner, &s, rig.Capture(), NoDeviceAudio());
    ASSERT_EQ(1, sender.Start(rig.Capture(), "game"));
    ASSERT_TRUE(WaitFor([&] { return rig.game.captures >= 2; }));
    rig.game.Set([](auto& g) { g.size.width += 40; });
    EXPECT_EQ(kLiveStopResized, owner.WaitFirst());
    std::this_thread::sleep_for(200ms);
    // Told once; the ticks that follow do nothing until the owner destroys the sender.
    EXPECT_EQ(1u, owner.Reasons().size());
}

TEST(CSendDataStreamTest, LostWindowEndsAsAUserStop) {
    TempDir dir;
    RecordingOwner owner;
    Rig rig;
    const CStreamSettings s = Settings(dir / "lost.flv");
    CSendDataStream sender(&owner, &s, rig.Capture(), NoDeviceAudio());
    ASSERT_EQ(1, sender.Start(rig.Capture(), "game"));
    rig.game.Set([](auto& g) { g.state = State::Gone; });
    EXPECT_EQ(-1, owner.WaitFirst());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(1u, owner.Reasons().size());
}

// With sound on, a device that cannot be opened still fails the start, and the timer and the
// encoder are stopped; the sender is reused, and its starting size is not taken again.
TEST(CSendDataStreamTest, FailedStartIsReusedWithItsFirstSize) {
    TempDir dir;
    RecordingOwner owner;
    Rig rig;
    CStreamSettings s = Settings(dir / "reuse.flv", 1);
    CSendDataStream sender(&owner, &s, rig.Capture(), NoDeviceAudio());
    EXPECT_EQ(0, sender.Start(rig.Capture(), "game"));
    EXPECT_EQ(0, sender.Started());
    EXPECT_FALSE(sender.Encoder().Running());
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(0, rig.game.captures);

    // Another game's size, and sound off this time: the first tick reports the size change.
    rig.game.Set([](auto& g) { g.size = {640, 480}; });
    s.audioEnabled = 0;
    ASSERT_EQ(1, sender.Start(rig.Capture(), "game"));
    EXPECT_EQ(kLiveStopResized, owner.WaitFirst());
}

class SendDataStreamServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.Start()) << server_.ErrorLog(); }
    NginxRtmpServer server_;
};

// The server drops the publisher: one reopening, which succeeds, and the broadcast goes on; a
// later stop tears the reopened stream down. Then the server goes: reopening fails, reason 2.
TEST_F(SendDataStreamServerTest, OneReopenThenConnectionLost) {
    RecordingOwner owner;
    Rig rig;
    const CStreamSettings s = Settings(server_.Url("reopen"));
    CSendDataStream sender(&owner, &s, rig.Capture(), NoDeviceAudio());
    ASSERT_EQ(1, sender.Start(rig.Capture(), "game"));
    ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= 5; }));
    EXPECT_EQ("1", server_.DropPublisher("reopen"));
    ASSERT_TRUE(WaitFor([&] { return sender.Reopens() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= 5; }))
        << "a reopened stream must broadcast live pictures again";
    const int grabs = rig.game.captures;
    ASSERT_TRUE(WaitFor([&] { return rig.game.captures >= grabs + 3; }));
    EXPECT_EQ(1, sender.Started());
    EXPECT_TRUE(owner.Reasons().empty());

    server_.Stop();
    EXPECT_EQ(kLiveStopConnection, owner.WaitFirst(15000));
    EXPECT_EQ(2, sender.Reopens());
    EXPECT_EQ(0, sender.Started());
}

// The owner destroys the sender on its own thread after any report, or on the user's stop at
// any moment: no tick, sound block or writer step may touch the freed sender.
TEST_F(SendDataStreamServerTest, DestroyedByItsOwnerAtAnyMoment) {
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Rig rig;
        DestroyingOwner owner;
        const std::string name = "life" + std::to_string(round);
        const CStreamSettings s = Settings(server_.Url(name));
        auto sender = std::make_unique<CSendDataStream>(&owner, &s, rig.Capture(), NoDeviceAudio());
        CSendDataStream* raw = sender.get();
        ASSERT_EQ(1, raw->Start(rig.Capture(), "game"));
        owner.Adopt(std::move(sender));
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + 15 * (round % 4)));
        switch (round % 4) {
            case 0: owner.UserStop(); break;
            case 1: rig.game.Set([](auto& g) { g.state = State::Gone; }); break;
            case 2: rig.game.Set([](auto& g) { g.size.height -= 8; }); break;
            case 3: server_.DropPublisher(name); owner.UserStop(); break;
        }
        ASSERT_TRUE(owner.WaitDestroyed());
    }
    // The harshest owner destroys the sender inside the report, on the sender's timer thread.
    for (int round = 0; round < 6; ++round) {
        Rig rig;
        SynchronousOwner owner;
        const CStreamSettings s = Settings(server_.Url("sync" + std::to_string(round)));
        owner.sender = new CSendDataStream(&owner, &s, rig.Capture(), NoDeviceAudio());
        ASSERT_EQ(1, owner.sender->Start(rig.Capture(), "game"));
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + 10 * round));
        if (round % 2 == 0)
            rig.game.Set([](auto& g) { g.state = State::Gone; });
        else
            rig.game.Set([](auto& g) { g.size.width -= 4; });
        ASSERT_TRUE(WaitFor([&] { return owner.reports > 0; }));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(1, owner.reports.load());
    }
}
