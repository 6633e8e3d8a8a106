#include <gtest/gtest.h>


#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <thread>

#include "ArrowCursor.h"
#include "CSendDataStream.h"
#include "FakePlatform.h"
#include "MediaProbe.h"
#include "NginxRtmpServer.h"
#include "GameCaptureX11.h"
#include "SinePlayer.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "TestWindowX11.h"

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

// A colour expected at a point of a picture.
struct Spot {
    int x, y;
    int r, g, b;
    const char* what;
};
void ExpectSpots(const std::vector<unsigned char>& bgr, int rowBytes, std::initializer_list<Spot> spots,
                 int tolerance = 0) {
    for (const Spot& s : spots) {
        SCOPED_TRACE(s.what);
        ExpectColour(PixelAt(bgr, rowBytes, s.x, s.y), s.r, s.g, s.b, tolerance);
    }
}

// Picture `frame` of the recording `file` (width × height) shows the test window's quadrants:
// red and green above, blue and white below.
void ExpectRecordedQuadrants(const std::string& file, long long frame, int width, int height) {
    SCOPED_TRACE(frame);
    const std::string raw = Capture("ffmpeg -v error -i '" + file + "' -vf 'select=eq(n\\," + std::to_string(frame) +
                                    ")' -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    ASSERT_EQ(static_cast<size_t>(width) * height * 3, raw.size());
    const std::vector<unsigned char> bgr(raw.begin(), raw.end());
    const int left = width / 4, right = width * 3 / 4, top = height / 4, bottom = height * 3 / 4;
    ExpectSpots(bgr, width * 3,
                {{left, top, 255, 0, 0, "red"},
                 {right, top, 0, 255, 0, "green"},
                 {left, bottom, 0, 0, 255, "blue"},
                 {right, bottom, 255, 255, 255, "white"}},
                40);
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

// Lets the broadcast run until it has sent `seconds` of pictures, by its own clock: on a busy
// machine that takes longer, and the sound beside them is as long.
bool BroadcastFor(const CSendDataStream& sender, const CStreamSettings& s, int seconds) {
    const long long frames = static_cast<long long>(seconds) * s.frameRate;
    return WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= frames; },
                   std::chrono::milliseconds(seconds * 1000 + 20000));
}

bool ServerHasComposite() {
    auto display = x11::OpenDisplayRetrying();
    int opcode = 0, event = 0, error = 0;
    return display && XQueryExtension(display.get(), "Composite", &opcode, &event, &error);
}

// The grabber's picture as top-down BGR, for the checks below.
std::vector<unsigned char> ToBgr(const platform::Picture& picture) {
    std::vector<unsigned char> bgr(static_cast<size_t>(picture.width) * picture.height * 3);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            std::memcpy(&bgr[(static_cast<size_t>(y) * picture.width + x) * 3],
                        picture.pixels + static_cast<long>(y) * picture.stride + x * 4, 3);
    return bgr;
}

// A window of other colours, laid over part of the test window.
class CoverWindow {
public:
    CoverWindow(int x, int y, int width, int height) : display_(x11::OpenDisplayRetrying()) {
        Display* d = display_.get();
        XSetWindowAttributes attributes{};
        attributes.background_pixel = 0xffff00;  // yellow
        window_ = XCreateWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                CWBackPixel, &attributes);
        XMapRaised(d, window_);
        XClearWindow(d, window_);
        XSync(d, False);
    }
    ~CoverWindow() {
        XDestroyWindow(display_.get(), window_);
        XSync(display_.get(), False);
    }

private:
    x11::DisplayPtr display_;
    Window window_ = 0;
};

}  // namespace

// Looks at the game and captures its whole picture, expecting a fresh one of `width` × `height`.
platform::Picture CaptureWhole(platform::IGameCapture& capture, int width, int height) {
    platform::PictureSize size;
    EXPECT_EQ(platform::IGameCapture::State::Shown, capture.Look(&size));
    EXPECT_EQ((platform::PictureSize{width, height}), size);
    platform::Picture picture;
    EXPECT_EQ(platform::IGameCapture::Result::Fresh, capture.Capture(width, height, &picture));
    EXPECT_EQ(width, picture.width);
    EXPECT_EQ(height, picture.height);
    EXPECT_GE(picture.stride, width * 4);
    EXPECT_EQ(platform::PixelLayout::Bgrx, picture.layout);
    return picture;
}

// Every path to the picture: the window's own contents (through MIT-SHM or XGetImage) where the
// server offers Composite, else the screen area. Each gives 32-bit top-down pixels of the client
// area, and says where the pointer is while it is over the window, so that the sender's arrow
// lands at its tip. Run twice: on a server with Composite and on one started without it.
TEST(GameCaptureX11Test, EveryPathReadsTheWindowAndPlacesThePointer) {
    using Source = x11::ScreenGrabberX11::Source;
    const bool composite = ServerHasComposite();
    struct Case {
        const char* name;
        bool useComposite;
        bool useShm;
        Source expected;
    };
    const Case cases[] = {
        {"window, MIT-SHM", true, true, composite ? Source::WindowShm : Source::ScreenShm},
        {"window, XGetImage", true, false, composite ? Source::WindowPlain : Source::ScreenPlain},
        {"screen, MIT-SHM", false, true, Source::ScreenShm},
        {"screen, XGetImage", false, false, Source::ScreenPlain},
    };
    TestWindowX11 window(50, 60, 200, 100);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto capture = x11::GameCaptureX11::Create(window.Id());
        ASSERT_NE(capture, nullptr);
        if (!c.useComposite) capture->Grabber().DisableComposite();
        if (!c.useShm) capture->Grabber().DisableShm();

        window.WarpPointer(50 + 20, 60 + 20);
        platform::Picture picture = CaptureWhole(*capture, 200, 100);
        EXPECT_EQ(c.expected, capture->Grabber().LastSource());
        int x = 0, y = 0;
        ASSERT_TRUE(capture->PointerAt(&x, &y));
        EXPECT_EQ(20, x);
        EXPECT_EQ(20, y);
        ArrowCursor::Draw(picture.pixels, picture.width, picture.height, picture.stride, x, y);
        ExpectSpots(ToBgr(picture), 600,
                    {{60, 5, 255, 0, 0, "red, right of the arrow"},
                     {150, 20, 0, 255, 0, "green"},
                     {50, 80, 0, 0, 255, "blue"},
                     {199, 99, 255, 255, 255, "white, last pixel"},
                     // The arrow: its tip (the hot spot) black at the pointer, white inside, red around.
                     {20, 20, 0, 0, 0, "arrow tip"},
                     {21, 22, 255, 255, 255, "inside the arrow"},
                     {19, 22, 255, 0, 0, "left of the arrow"},
                     {20 + ArrowCursor::kWidth, 25, 255, 0, 0, "right of the arrow"}});

        // The pointer just outside the window, above and left of it: the arrow would reach
        // into the picture, but the pointer is not over the game, so none is drawn.
        window.WarpPointer(45, 55);
        picture = CaptureWhole(*capture, 200, 100);
        EXPECT_FALSE(capture->PointerAt(&x, &y));
        ExpectSpots(ToBgr(picture), 600, {{0, 0, 255, 0, 0, "corner"}, {20, 20, 255, 0, 0, "no arrow"}});
    }
}

// The window's own contents keep what lies over it out of the picture, and a window partly off
// the screen is read whole; a screen copy shows the cover and blacks out what is off the screen.
TEST(GameCaptureX11Test, CoveredAndPartlyOffScreenWindows) {
    using Source = x11::ScreenGrabberX11::Source;
    const bool composite = ServerHasComposite();
    for (bool useComposite : {true, false}) {
        const bool ownContents = useComposite && composite;
        SCOPED_TRACE(ownContents ? "window contents" : "screen area");
        TestWindowX11 window(300, 300, 200, 100);
        window.WarpPointer(1200, 1000);  // out of the way
        auto capture = x11::GameCaptureX11::Create(window.Id());
        ASSERT_NE(capture, nullptr);
        if (!useComposite) capture->Grabber().DisableComposite();
        CaptureWhole(*capture, 200, 100);

        {
            // The right half covered.
            CoverWindow cover(400, 290, 150, 130);
            const auto bgr = ToBgr(CaptureWhole(*capture, 200, 100));
            if (ownContents)
                ExpectSpots(bgr, 600,
                            {{50, 25, 255, 0, 0, "red"}, {150, 25, 0, 255, 0, "green"}, {150, 75, 255, 255, 255, "white"}});
            else
                ExpectSpots(bgr, 600, {{50, 25, 255, 0, 0, "red"}, {150, 25, 255, 255, 0, "the cover"}});
        }

        // 60 pixels left of the screen and 30 above it; the window repaints once moved.
        window.Move(-60, -30);
        const auto bgr = ToBgr(CaptureWhole(*capture, 200, 100));
        EXPECT_EQ(ownContents ? Source::WindowShm : Source::ScreenPlain, capture->Grabber().LastSource());
        ExpectSpots(bgr, 600,
                    {{10, 10, ownContents ? 255 : 0, 0, 0, "off the screen"},
                     {80, 40, 255, 0, 0, "red"},
                     {150, 75, 255, 255, 255, "white"}});
    }
}

// The game's state as the sender sees it: shown at its size wherever it moves, minimised
// (iconified or hidden), gone once destroyed.
TEST(GameCaptureX11Test, SizeMinimisedAndGone) {
    using State = platform::IGameCapture::State;
    TestWindowX11 window(30, 40, 120, 80);
    auto capture = x11::GameCaptureX11::Create(window.Id());
    ASSERT_NE(capture, nullptr);
    platform::PictureSize size;
    ASSERT_EQ(State::Shown, capture->Look(&size));
    EXPECT_EQ((platform::PictureSize{120, 80}), size);
    window.Move(300, 200);
    window.WarpPointer(310, 215);
    ASSERT_EQ(State::Shown, capture->Look(&size));
    EXPECT_EQ((platform::PictureSize{120, 80}), size);
    int x = 0, y = 0;
    ASSERT_TRUE(capture->PointerAt(&x, &y)) << "the pointer is found over the moved window";
    EXPECT_EQ(10, x);
    EXPECT_EQ(15, y);

    window.Iconify(true);
    EXPECT_EQ(State::Minimised, capture->Look(&size));
    window.Iconify(false);
    EXPECT_EQ(State::Shown, capture->Look(&size));
    window.SetHidden(true);
    EXPECT_EQ(State::Minimised, capture->Look(&size));
    window.SetHidden(false);
    EXPECT_EQ(State::Shown, capture->Look(&size));
    capture->BringToFront();

    window.Destroy();
    EXPECT_EQ(State::Gone, capture->Look(&size));
    EXPECT_EQ(State::Gone, x11::GameCaptureX11::Create(0)->Look(&size));
}

// The whole sender on a real X server: the window's picture is what arrives, and a window
// laid over it does not; moving keeps broadcasting; minimising pauses and restoring resumes;
// resizing ends with reason 1.
TEST(SendDataStreamX11Test, FollowsTheWindow) {
    TempDir dir;
    long long coveredFrame = 0;
    TestWindowX11 window(100, 100, 200, 100);
    window.WarpPointer(1000, 900);  // out of the way
    RecordingOwner owner;
    const CStreamSettings s = Settings(dir / "x11.flv", 200, 100);
    {
        std::shared_ptr<platform::IGameCapture> capture = x11::GameCaptureX11::Create(window.Id());
        CSendDataStream sender(&owner, &s, capture);
        EXPECT_EQ(200, sender.StartSize().width);
        ASSERT_EQ(1, sender.Start(capture, "xterm"));
        ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= 4; }));
        {
            // A window laid over the right half stays out of the broadcast.
            CoverWindow cover(200, 90, 120, 120);
            coveredFrame = sender.Encoder().VideoFramesEncoded() + 1;
            ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= coveredFrame + 2; }));
        }
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
    // The first picture decoded from the stream, and one sent while the cover lay over the
    // window, show the quadrants.
    for (long long frame : {0LL, coveredFrame}) ExpectRecordedQuadrants(dir / "x11.flv", frame, 200, 100);
}

TEST(SendDataStreamX11Test, ClosedWindowEndsAsAUserStop) {
    TempDir dir;
    TestWindowX11 window(10, 10, 160, 120);
    RecordingOwner owner;
    const CStreamSettings s = Settings(dir / "closed.flv", 160, 120);
    std::shared_ptr<platform::IGameCapture> capture = x11::GameCaptureX11::Create(window.Id());
    CSendDataStream sender(&owner, &s, capture);
    ASSERT_EQ(1, sender.Start(capture, "xterm"));
    ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= 2; }));
    window.Destroy();
    EXPECT_EQ(-1, owner.WaitFirst());
}

// A sine played into the sound server's sink, captured from its monitor, comes out in the AAC
// the server received.
TEST(SendDataStreamX11Test, SoundReachesThePublishedStream) {
    NginxRtmpServer server;
    ASSERT_TRUE(server.Start());
    SinePlayer player(10);
    ASSERT_TRUE(player.Started());

    TestWindowX11 window(10, 10, 160, 120);
    RecordingOwner owner;
    CStreamSettings s = Settings(server.Url("sound"), 160, 120);
    s.audioEnabled = 1;
    s.audioDevice = "s1.monitor";
    {
        std::shared_ptr<platform::IGameCapture> capture = x11::GameCaptureX11::Create(window.Id());
        CSendDataStream sender(&owner, &s, capture);
        ASSERT_EQ(1, sender.Start(capture, "xterm"));
        ASSERT_TRUE(BroadcastFor(sender, s, 5));
    }
    player.Stop();
    ASSERT_TRUE(server.WaitRecordingClosed("sound"));

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

namespace {

// The decoded sound of a recording, 16-bit mono at 22050 Hz.
std::vector<int16_t> DecodedSound(const std::string& recording) {
    const std::string raw =
        Capture("ffmpeg -v error -i '" + recording + "' -vn -f s16le -ac 1 -ar 22050 - 2>/dev/null");
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

// The share of 50 ms windows from `from` on whose level is above `rms`.
double LoudShare(const std::vector<int16_t>& samples, size_t from, double rms) {
    size_t windows = 0, loud = 0;
    for (size_t at = from; at + 1102 <= samples.size(); at += 1102, ++windows) {
        double sum = 0;
        for (size_t i = at; i < at + 1102; ++i) sum += static_cast<double>(samples[i]) * samples[i];
        if (std::sqrt(sum / 1102) > rms) ++loud;
    }
    return windows ? static_cast<double>(loud) / static_cast<double>(windows) : 0;
}

}  // namespace

// Each entry of the audio source list broadcasts what its label says. The microphone (the
// default source) hears 440 Hz, the game plays 880 Hz into the default output from a process it
// started, and another program plays 1320 Hz there. The spectrum of the sound nginx recorded
// tells which reached the viewers; the levels are printed for the record.
TEST(SendDataStreamX11Test, EachSoundChoiceBroadcastsWhatItsLabelSays) {
    using platform::AudioSourceChoice;
    NginxRtmpServer server;
    ASSERT_TRUE(server.Start());
    TestMicrophone microphone;
    ASSERT_TRUE(microphone.Ready());
    constexpr double kAmplitude = 8000;  // three of them add up without clipping
    SinePlayer voice(60, 440, "micsink", false, kAmplitude);
    SinePlayer other(60, 1320, "s1", false, kAmplitude);
    ASSERT_TRUE(voice.Started() && other.Started());
    // A source that delivers in 2-second blocks, where the server has one.
    const std::string sineModule = TestMicrophone::Load("module-sine-source source_name=sine frequency=440");

    struct Case {
        const char* name;
        std::optional<AudioSourceChoice> choice;
        std::vector<double> heard, unheard;
        bool gameLate = false;  // the game opens its stream after the broadcast started
    };
    const Case cases[] = {
        {"mic_and_computer", AudioSourceChoice::MicrophoneAndComputer(), {440, 880, 1320}, {}},
        {"mic", AudioSourceChoice(""), {440}, {880, 1320}},
        {"game", AudioSourceChoice::GameOnly(), {880}, {440, 1320}},
        {"game_late", AudioSourceChoice::GameOnly(), {880}, {440, 1320}, true},
        {"none", std::nullopt, {}, {440, 880, 1320}},
        {"sine_blocks", AudioSourceChoice("sine"), {440}, {880, 1320}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "sine_blocks" && sineModule.empty()) {
            std::printf("[ sound    ] %s: this server has no module-sine-source\n", c.name);
            continue;
        }
        // The game: a shell that plays through a child, at once or once the broadcast runs.
        TempDir dir;
        const std::string go = dir / "go";
        SinePlayer game(60, 880, "s1", true, kAmplitude, c.gameLate ? go : "");
        ASSERT_TRUE(game.Started());
        TestWindowX11 window(10, 10, 160, 120);
        RecordingOwner owner;
        CStreamSettings s = Settings(server.Url(c.name), 160, 120);
        s.audioEnabled = c.choice.has_value() ? 1 : 0;
        s.audioDevice = c.choice;
        if (s.audioDevice && s.audioDevice->kind == AudioSourceChoice::Kind::GameOnly)
            s.audioDevice->gameProcess = game.Pid();
        {
            std::shared_ptr<platform::IGameCapture> capture = x11::GameCaptureX11::Create(window.Id());
            CSendDataStream sender(&owner, &s, capture);
            ASSERT_EQ(1, sender.Start(capture, "game"));
            if (c.gameLate) WriteFile(go, "");
            ASSERT_TRUE(BroadcastFor(sender, s, 5));
        }
        ASSERT_TRUE(server.WaitRecordingClosed(c.name));
        const auto samples = DecodedSound(server.Recording(c.name));
        // 5 s of sound at the normal rate, whatever was chosen; judged from the third second on.
        ASSERT_GT(samples.size(), 22050u * 4);
        const size_t from = 22050 * 2;
        const int16_t* judged = samples.data() + from;
        const size_t count = samples.size() - from;
        std::string levels;
        for (double hz : {440.0, 880.0, 1320.0}) {
            const double level = ToneLevelDbfs(judged, count, hz);
            levels += " " + std::to_string(static_cast<int>(hz)) + " Hz " + std::to_string(level).substr(0, 6) + " dBFS";
            const bool heard = std::find(c.heard.begin(), c.heard.end(), hz) != c.heard.end();
            if (heard) EXPECT_GT(level, -30.0) << hz << " Hz should be heard";
            else EXPECT_LT(level, -50.0) << hz << " Hz should not be heard";
        }
        std::printf("[ sound    ] %s:%s\n", c.name, levels.c_str());
        // The tone goes on: nothing the server delivered was lost, and nothing was filled with
        // silence while more was on its way (a source of 2-second blocks cut to the clock is
        // heard a fifth of the time). A player starved of the processor on a busy machine may
        // still leave a gap of its own.
        if (!c.heard.empty()) {
            const double share = LoudShare(samples, from, 2000);
            std::printf("[ sound    ] %s: %.0f %% of the 50 ms windows are loud\n", c.name, share * 100);
            EXPECT_GT(share, 0.75);
        }
    }
    if (!sineModule.empty()) Capture("pactl unload-module " + sineModule);
}

// The sound server ends during a broadcast, as on a crash or an update, and comes back (the
// fixture's own server, by its PID): the picture goes on throughout, and the tone is heard again
// within 5 s of the server's return, from a source chosen by name and from the game alone. The
// players play again once they find the server, as programs do.
TEST(SendDataStreamX11Test, SoundComesBackWithTheSoundServer) {
    using platform::AudioSourceChoice;
    const char* control = std::getenv("STRIMO_SOUND_SERVER");
    ASSERT_NE(nullptr, control) << "run under with-pulse.sh or with-pipewire.sh";
    const std::string soundServer = control;
    NginxRtmpServer server;
    ASSERT_TRUE(server.Start());
    struct Case {
        const char* name;
        AudioSourceChoice choice;
    };
    const Case cases[] = {
        {"restart_named", AudioSourceChoice("s1.monitor")},
        {"restart_game", AudioSourceChoice::GameOnly()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SinePlayer game(60, 880, "s1", true, 12000, "", true);
        ASSERT_TRUE(game.Started());
        TestWindowX11 window(10, 10, 160, 120);
        RecordingOwner owner;
        CStreamSettings s = Settings(server.Url(c.name), 160, 120);
        s.audioEnabled = 1;
        s.audioDevice = c.choice;
        if (s.audioDevice->kind == AudioSourceChoice::Kind::GameOnly) s.audioDevice->gameProcess = game.Pid();
        long long stoppedAt = 0, backAt = 0;  // pictures sent when the server went and when it was back
        {
            std::shared_ptr<platform::IGameCapture> capture = x11::GameCaptureX11::Create(window.Id());
            CSendDataStream sender(&owner, &s, capture);
            ASSERT_EQ(1, sender.Start(capture, "game"));
            ASSERT_TRUE(BroadcastFor(sender, s, 4));
            ASSERT_EQ(0, CaptureRun("'" + soundServer + "' stop").status);
            stoppedAt = sender.Encoder().VideoFramesEncoded();
            // Two seconds without a server: the picture goes on.
            ASSERT_TRUE(BroadcastFor(sender, s, static_cast<int>(stoppedAt / s.frameRate) + 2));
            ASSERT_EQ(0, CaptureRun("'" + soundServer + "' start").status);
            backAt = sender.Encoder().VideoFramesEncoded();
            // 5 s to come back, then 3 s judged.
            ASSERT_TRUE(BroadcastFor(sender, s, static_cast<int>(backAt / s.frameRate) + 8));
        }
        ASSERT_TRUE(server.WaitRecordingClosed(c.name));
        const std::string recording = server.Recording(c.name);
        // The picture never stopped: no gap between pictures beyond a few frame periods.
        double lastPicture = -1, widestGap = 0;
        long long pictures = 0;
        for (const auto& p : ProbePackets(recording)) {
            if (p.type != "video") continue;
            if (lastPicture >= 0) widestGap = std::max(widestGap, p.pts - lastPicture);
            lastPicture = p.pts;
            ++pictures;
        }
        EXPECT_GE(pictures, backAt + 8 * s.frameRate - 5);
        EXPECT_LT(widestGap, 0.5);
        const auto samples = DecodedSound(recording);
        const auto at = [&](long long frames) { return static_cast<size_t>(frames * 22050 / s.frameRate); };
        ASSERT_GT(samples.size(), at(backAt + 7 * s.frameRate));
        // For the record: how long after the server's return the first loud 50 ms came.
        size_t loudAt = at(backAt);
        while (loudAt + 1102 <= samples.size() &&
               LoudShare(std::vector<int16_t>(samples.begin() + static_cast<long>(loudAt),
                                              samples.begin() + static_cast<long>(loudAt) + 1102),
                         0, 2000) == 0)
            loudAt += 1102;
        std::printf("[ sound    ] %s: heard again %.2f s after the server was back; widest gap between pictures %.2f s\n",
                    c.name, static_cast<double>(loudAt - at(backAt)) / 22050, widestGap);
        // Heard before the server went (from the second second), and again from 5 s after its
        // return to the end.
        struct Span {
            const char* what;
            size_t from, to;
        };
        for (const Span& span : {Span{"before", at(s.frameRate * 2), at(stoppedAt)},
                                 Span{"again", at(backAt + 5 * s.frameRate), samples.size()}}) {
            SCOPED_TRACE(span.what);
            const std::vector<int16_t> part(samples.begin() + static_cast<long>(span.from),
                                            samples.begin() + static_cast<long>(span.to));
            const double level = ToneLevelDbfs(part.data(), part.size(), 880);
            const double share = LoudShare(part, 0, 2000);
            std::printf("[ sound    ] %s, %s: 880 Hz %.1f dBFS, %.0f %% of the 50 ms windows loud\n", c.name,
                        span.what, level, share * 100);
            EXPECT_GT(level, -30.0);
            EXPECT_GT(share, 0.75);
        }
    }
}

// On a Wayland desktop (weston with Xwayland, run by with-weston.sh), where the root window reads
// back black and the window manager frames every window: the window's picture reaches the
// streaming server, a new size ends the broadcast with reason 1 and closing the window ends it
// as a user stop. The pointer is left alone: Xwayland 22 does not survive synthetic input.
TEST(SendDataStreamXwaylandTest, BroadcastsTheWindowResizeAndClose) {
    NginxRtmpServer server;
    ASSERT_TRUE(server.Start());
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "closed" : "resized");
        const std::string name = close ? "closed" : "resized";
        TestWindowX11 window(40, 40, 320, 240);
        RecordingOwner owner;
        const CStreamSettings s = Settings(server.Url(name), 320, 240);
        {
            std::shared_ptr<platform::IGameCapture> capture = x11::GameCaptureX11::Create(window.Id());
            CSendDataStream sender(&owner, &s, capture);
            ASSERT_EQ(320, sender.StartSize().width);
            ASSERT_EQ(1, sender.Start(capture, "xterm"));
            ASSERT_TRUE(WaitFor([&] {
                window.Pump();
                return sender.Encoder().VideoFramesEncoded() >= 8;
            }));
            if (close) {
                window.Destroy();
                EXPECT_EQ(-1, owner.WaitFirst());
            } else {
                window.Resize(360, 240);
                EXPECT_EQ(kLiveStopResized, owner.WaitFirst());
            }
        }
        if (close) continue;
        // The pictures nginx recorded: the quadrants, not the black of the root window.
        const std::string recording = server.Recording(name);
        ASSERT_TRUE(WaitFor([&] { return ProbePackets(recording).size() >= 8; }, 10000ms));
        for (int frame : {1, 6}) ExpectRecordedQuadrants(recording, frame, 320, 240);
    }
}
