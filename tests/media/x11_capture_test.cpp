#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "ArrowCursor.h"
#include "CSendDataStream.h"
#include "FakePlatform.h"
#include "MediaProbe.h"
#include "NginxRtmpServer.h"
#include "ScreenGrabberX11.h"
#include "TempDir.h"
#include "TestWindowX11.h"
#include "WindowTrackerX11.h"

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

struct Bgr {
    int b, g, r;
};
Bgr PixelAt(const std::vector<unsigned char>& bgr, int rowBytes, int x, int y) {
    const unsigned char* p = &bgr[static_cast<size_t>(y) * rowBytes + x * 3];
    return {p[0], p[1], p[2]};
}
void ExpectColour(Bgr actual, int r, int g, int b, int tolerance = 0) {
    EXPECT_NEAR(r, actual.r, tolerance);
    EXPECT_NEAR(g, actual.g, tolerance);
    EXPECT_NEAR(b, actual.b, tolerance);
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

CStreamSettings Settings(const std::string& url, int width, int height) {
    CStreamSettings s;
    s.sourceWidth = s.width = width;
    s.sourceHeight = s.height = height;
    s.frameRate = 10;
    s.quality = 0;
    s.url = url;
    s.audioEnabled = 0;
    s.bitRate = 1000000;
    return s;
}

}  // namespace

// The window's pixels as packed top-down BGR, through MIT-SHM and through XGetImage, with the
// arrow drawn in at the pointer.
TEST(ScreenGrabberX11Test, CopiesTheWindowAndDrawsTheArrow) {
    TestWindowX11 window(50, 60, 200, 100);
    window.WarpPointer(50 + 20, 60 + 20);
    auto grabber = x11::ScreenGrabberX11::Create();
    ASSERT_NE(grabber, nullptr);
    EXPECT_EQ(24, grabber->Depth());
    for (bool shm : {true, false}) {
        SCOPED_TRACE(shm ? "MIT-SHM" : "XGetImage");
        if (!shm) grabber->DisableShm();
        const int rowBytes = 200 * 3;
        std::vector<unsigned char> bgr(static_cast<size_t>(rowBytes) * 100, 0x55);
        ASSERT_TRUE(grabber->Grab(50, 60, 200, 100, bgr.data(), rowBytes));
        EXPECT_EQ(shm, grabber->UsedShm());
        ExpectColour(PixelAt(bgr, rowBytes, 60, 5), 255, 0, 0);      // red, right of the arrow
        ExpectColour(PixelAt(bgr, rowBytes, 150, 20), 0, 255, 0);    // green
        ExpectColour(PixelAt(bgr, rowBytes, 50, 80), 0, 0, 255);     // blue
        ExpectColour(PixelAt(bgr, rowBytes, 199, 99), 255, 255, 255);  // white, last pixel
        // The arrow: its tip (the hot spot) black at the pointer, white inside, red around.
        ExpectColour(PixelAt(bgr, rowBytes, 20, 20), 0, 0, 0);
        ExpectColour(PixelAt(bgr, rowBytes, 21, 22), 255, 255, 255);
        ExpectColour(PixelAt(bgr, rowBytes, 19, 22), 255, 0, 0);
        ExpectColour(PixelAt(bgr, rowBytes, 20 + x11::ArrowCursor::kWidth, 25), 255, 0, 0);
    }
    // A rectangle partly off the screen: the part outside is black.
    const int rowBytes = 100 * 3;
    std::vector<unsigned char> bgr(static_cast<size_t>(rowBytes) * 50, 0x55);
    window.Move(0, 0);
    window.WarpPointer(500, 500);
    ASSERT_TRUE(grabber->Grab(-20, 0, 100, 50, bgr.data(), rowBytes));
    ExpectColour(PixelAt(bgr, rowBytes, 5, 10), 0, 0, 0);
    ExpectColour(PixelAt(bgr, rowBytes, 30, 10), 255, 0, 0);
}

TEST(WindowTrackerX11Test, ClientRectangleMinimisedAndGone) {
    auto tracker = x11::WindowTrackerX11::Create();
    ASSERT_NE(tracker, nullptr);
    TestWindowX11 window(30, 40, 120, 80);
    platform::ScreenRect rect;
    ASSERT_TRUE(tracker->ClientRect(window.Id(), &rect));
    EXPECT_EQ(30, rect.left);
    EXPECT_EQ(40, rect.top);
    EXPECT_EQ(120, rect.Width());
    EXPECT_EQ(80, rect.Height());
    window.Move(300, 200);
    ASSERT_TRUE(tracker->ClientRect(window.Id(), &rect));
    EXPECT_EQ(300, rect.left);
    EXPECT_EQ(200, rect.top);

    EXPECT_FALSE(tracker->IsMinimised(window.Id()));
    window.Iconify(true);
    EXPECT_TRUE(tracker->IsMinimised(window.Id()));
    window.Iconify(false);
    EXPECT_FALSE(tracker->IsMinimised(window.Id()));
    window.SetHidden(true);
    EXPECT_TRUE(tracker->IsMinimised(window.Id()));
    window.SetHidden(false);
    EXPECT_FALSE(tracker->IsMinimised(window.Id()));
    tracker->Activate(window.Id());

    EXPECT_TRUE(tracker->Exists(window.Id()));
    const auto id = window.Id();
    window.Destroy();
    EXPECT_FALSE(tracker->Exists(id));
    EXPECT_FALSE(tracker->ClientRect(id, &rect));
    EXPECT_FALSE(tracker->IsMinimised(id));
    EXPECT_FALSE(tracker->Exists(0));
}

// The whole sender on a real X server: the window's picture is what arrives; moving keeps
// broadcasting; minimising pauses and restoring resumes; resizing ends with reason 1.
TEST(SendDataStreamX11Test, FollowsTheWindow) {
    TempDir dir;
    TestWindowX11 window(100, 100, 200, 100);
    window.WarpPointer(1000, 900);  // out of the way
    RecordingOwner owner;
    const CStreamSettings s = Settings(dir / "x11.flv", 200, 100);
    {
        CSendDataStream sender(&owner, &s, window.Id());
        EXPECT_EQ(100, sender.StartRect().left);
        ASSERT_EQ(1, sender.Start(window.Id(), "xterm"));
        ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= 4; }));
        window.Move(400, 300);
        const auto frames = sender.Encoder().VideoFramesEncoded();
        ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= frames + 4; }));

        window.Iconify(true);
        ASSERT_TRUE(WaitFor([&] { return sender.Paused() == 1; }));
        const auto paused = sender.Encoder().VideoFramesEncoded();
        ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= paused + 3; }));
        window.Iconify(false);
        ASSERT_TRUE(WaitFor([&] { return sender.Paused() == 0; }));
        EXPECT_TRUE(owner.Reasons().empty());

        window.Resize(240, 100);
        EXPECT_EQ(kLiveStopResized, owner.WaitFirst());
        EXPECT_EQ(1, sender.Started());
    }
    // The first picture decoded from the stream shows the quadrants.
    const std::string raw = Capture("ffmpeg -v error -i '" + (dir / "x11.flv") +
                                    "' -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    ASSERT_EQ(200u * 100 * 3, raw.size());
    const std::vector<unsigned char> bgr(raw.begin(), raw.end());
    ExpectColour(PixelAt(bgr, 600, 50, 25), 255, 0, 0, 40);
    ExpectColour(PixelAt(bgr, 600, 150, 25), 0, 255, 0, 40);
    ExpectColour(PixelAt(bgr, 600, 50, 75), 0, 0, 255, 40);
    ExpectColour(PixelAt(bgr, 600, 150, 75), 255, 255, 255, 40);
}

TEST(SendDataStreamX11Test, ClosedWindowEndsAsAUserStop) {
    TempDir dir;
    TestWindowX11 window(10, 10, 160, 120);
    RecordingOwner owner;
    const CStreamSettings s = Settings(dir / "closed.flv", 160, 120);
    CSendDataStream sender(&owner, &s, window.Id());
    ASSERT_EQ(1, sender.Start(window.Id(), "xterm"));
    ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= 2; }));
    window.Destroy();
    EXPECT_EQ(-1, owner.WaitFirst());
}

// A sine played into the sound server's sink, captured from its monitor, comes out in the AAC
// the server received.
TEST(SendDataStreamX11Test, SoundReachesThePublishedStream) {
    NginxRtmpServer server;
    ASSERT_TRUE(server.Start());
    TempDir dir;
    std::vector<unsigned char> pcm;
    for (int i = 0; i < 10; ++i) {
        const auto block = SineBlock(22050, 22050L * i);
        pcm.insert(pcm.end(), block.begin(), block.end());
    }
    WriteFile(dir / "sine.raw", std::string(pcm.begin(), pcm.end()));
    const std::string file = dir / "sine.raw";
    const char* argv[] = {"pacat", "--playback", "--latency-msec=50", "--device=s1", "--format=s16le",
                          "--rate=22050", "--channels=1", file.c_str(), nullptr};
    pid_t player = 0;
    ASSERT_EQ(0, posix_spawnp(&player, "pacat", nullptr, nullptr, const_cast<char**>(argv), environ));

    TestWindowX11 window(10, 10, 160, 120);
    RecordingOwner owner;
    CStreamSettings s = Settings(server.Url("sound"), 160, 120);
    s.audioEnabled = 1;
    s.audioDevice = "s1.monitor";
    {
        CSendDataStream sender(&owner, &s, window.Id());
        ASSERT_EQ(1, sender.Start(window.Id(), "xterm"));
        std::this_thread::sleep_for(5000ms);
    }
    ::kill(player, SIGTERM);
    int status = 0;
    ::waitpid(player, &status, 0);
    std::this_thread::sleep_for(300ms);

    const std::string raw = Capture("ffmpeg -v error -i '" + server.Recording("sound") +
                                    "' -vn -f s16le -ac 1 -ar 22050 - 2>/dev/null");
    ASSERT_GT(raw.size(), 22050u * 2 * 2);
    const auto* samples = reinterpret_cast<const int16_t*>(raw.data());
    const size_t count = raw.size() / 2;
    // Judged per 50 ms window, so that a late or dropped block on a busy machine does not
    // decide: most windows are loud, and a loud window holds 22 periods of 440 Hz.
    std::vector<int> crossings;
    size_t windows = 0;
    for (size_t at = 1; at + 1102 <= count; at += 1102, ++windows) {
        double sum = 0;
        int up = 0;
        for (size_t i = at; i < at + 1102; ++i) {
            sum += static_cast<double>(samples[i]) * samples[i];
            if (samples[i - 1] < 0 && samples[i] >= 0) ++up;
        }
        if (std::sqrt(sum / 1102) > 3000) crossings.push_back(up);
    }
    ASSERT_GT(windows, 20u);
    // The sink's monitor starts late: the first second or two may be silence.
    EXPECT_GE(crossings.size() * 5, windows * 2) << "too little of the sound is the sine";
    ASSERT_FALSE(crossings.empty());
    std::sort(crossings.begin(), crossings.end());
    EXPECT_NEAR(22, crossings[crossings.size() / 2], 1);
}
