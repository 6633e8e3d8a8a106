// A native Wayland game, captured through the desktop's ScreenCast portal and PipeWire, on a
// real desktop: GNOME Shell (tests/fixtures/with-gnome.sh) or KDE Plasma's KWin (with-kde.sh),
// each a window stream with the picker passed by a restore token seeded for the test window, or
// sway (with-sway.sh: the portal casts the whole output). The test window draws red, green, blue
// and white quadrants.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CBroadcastSession.h"
#include "CData.h"
#include "CSendDataStream.h"
#include "Capture.h"
#include "ChildProcess.h"
#include "FakePlatform.h"
#include "GameCaptureFactory.h"
#include "NginxRtmpServer.h"
#include "ScreenCastPortal.h"
#include "TempDir.h"
#include "WaitFor.h"

using namespace testsupport;
using namespace std::chrono_literals;
using State = platform::IGameCapture::State;
using Result = platform::IGameCapture::Result;

namespace {

const std::string kBin = STRIMO_TESTS_BIN;
const std::string kAppId = "strimo-wayland-test-window";
const std::string kTitle = "strimo test window";

bool DesktopIs(const char* name) {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    return desktop != nullptr && std::strstr(desktop, name) != nullptr;
}
bool OnGnome() { return DesktopIs("GNOME"); }
bool OnKde() { return DesktopIs("KDE"); }
// GNOME and KDE cast the chosen window, and its stream lives as long as the window; sway casts
// the output.
bool WindowStream() { return OnGnome() || OnKde(); }

// KWin's UUID of the first window of the app id (empty: none listed).
std::string KdeWindow(const std::string& appId) {
    std::istringstream lines(Capture(std::string(STRIMO_SOURCE_DIR) + "/tests/wayland/kde-windows.sh"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string window, uuid, resourceClass;
        words >> window >> uuid >> resourceClass;
        if (resourceClass == appId) return uuid;
    }
    return {};
}

// Where the window lies in the shared picture: all of it in a window stream, its place on the
// output on sway.
struct Area {
    int x = 0, y = 0, width = 0, height = 0;
};

Area WindowOnSway() {
    std::istringstream rect(Capture("swaymsg -t get_tree | jq -r '.. | objects | select(.app_id? == \"" + kAppId +
                                    "\") | \"\\(.rect.x) \\(.rect.y) \\(.rect.width) \\(.rect.height)\"'"));
    Area a;
    rect >> a.x >> a.y >> a.width >> a.height;
    return a;
}

struct Rgb {
    int r, g, b;
};

// The pixel at (x, y) of 32-bit rows in either channel order.
Rgb PixelOf(const platform::Picture& p, int x, int y) {
    const unsigned char* px = p.pixels + static_cast<long>(y) * p.stride + x * 4;
    return p.layout == platform::PixelLayout::Bgrx ? Rgb{px[2], px[1], px[0]} : Rgb{px[0], px[1], px[2]};
}

void ExpectQuadrants(const std::function<Rgb(int, int)>& at, const Area& a, int tolerance) {
    const struct {
        int fx, fy;
        Rgb colour;
        const char* what;
    } spots[] = {{1, 1, {255, 0, 0}, "red"}, {3, 1, {0, 255, 0}, "green"}, {1, 3, {0, 0, 255}, "blue"},
                 {3, 3, {255, 255, 255}, "white"}};
    for (const auto& s : spots) {
        SCOPED_TRACE(s.what);
        const Rgb c = at(a.x + a.width * s.fx / 4, a.y + a.height * s.fy / 4);
        EXPECT_NEAR(s.colour.r, c.r, tolerance);
        EXPECT_NEAR(s.colour.g, c.g, tolerance);
        EXPECT_NEAR(s.colour.b, c.b, tolerance);
    }
}

CStreamSettings Settings(const std::string& url, platform::PictureSize size) {
    CStreamSettings s;
    s.sourceWidth = s.width = size.width / 4 * 4;
    s.sourceHeight = s.height = size.height / 4 * 4;
    s.frameRate = 10;
    s.quality = 0;
    s.url = url;
    s.audioEnabled = 0;
    s.bitRate = 1000000;
    return s;
}

// The screen casts GNOME runs now (Mutter's sessions): what its "screen is being shared"
// indicator shows.
int GnomeScreenCasts() {
    const std::string tree = Capture(
        "gdbus introspect --session --dest org.gnome.Mutter.ScreenCast --object-path /org/gnome/Mutter/ScreenCast/Session");
    int casts = -1;  // the listed path itself
    for (std::size_t at = tree.find("node "); at != std::string::npos; at = tree.find("node ", at + 1)) ++casts;
    return casts;
}

// The program's sender behind the session's interface, its sound left out.
class PortalSender final : public ILiveSender {
public:
    PortalSender(ILiveOwner* owner, const CStreamSettings* settings, std::shared_ptr<platform::IGameCapture> capture)
        : stream(owner, settings, std::move(capture), NoDeviceAudio()) {}
    int Start(std::shared_ptr<platform::IGameCapture> capture, const std::string& processName) override {
        return stream.Start(std::move(capture), processName);
    }
    void ReleaseCapture() override { stream.Start(nullptr, std::string()); }
    CSendDataStream stream;
};

class PortalCaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "portal_capture_test";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    }

    // Starts the test window and, on GNOME and KDE, waits until the desktop lists it and seeds
    // the portal's permission store for it. The game's source: no X11 window, its process.
    platform::GameSource StartGame(const std::string& size, bool tick) {
        std::vector<std::string> argv = {kBin + "/wayland-test-window", "--size", size, "--app-id", kAppId,
                                         "--title", kTitle};
        if (tick) argv.insert(argv.end(), {"--tick", "100"});
        window_ = std::make_unique<ChildProcess>(argv);
        EXPECT_TRUE(window_->Started());
        platform::GameSource game;
        game.pid = window_->Pid();
        if (OnGnome()) {
            const auto listed = [&] {
                return Capture(kBin + "/portal-screencast --list-windows").find("window " + kAppId + ".desktop " +
                                                                               kTitle) != std::string::npos;
            };
            EXPECT_TRUE(WaitFor(listed, 15000ms)) << "GNOME Shell does not list the test window";
            std::string token = Capture(std::string(STRIMO_SOURCE_DIR) + "/tests/wayland/seed-screencast-token.sh " +
                                        kAppId + ".desktop '" + kTitle + "'");
            while (!token.empty() && token.back() == '\n') token.pop_back();
            game.restoreToken = token;
        } else if (OnKde()) {
            std::string uuid;
            EXPECT_TRUE(WaitFor([&] { return !(uuid = KdeWindow(kAppId)).empty(); }, 15000ms))
                << "KWin does not list the test window";
            std::string token =
                Capture(std::string(STRIMO_SOURCE_DIR) + "/tests/wayland/seed-screencast-token.sh --kde '" + uuid + "'");
            while (!token.empty() && token.back() == '\n') token.pop_back();
            game.restoreToken = token;
        } else {
            EXPECT_TRUE(WaitFor([] { return WindowOnSway().width > 0; }, 10000ms)) << "sway did not map the window";
        }
        return game;
    }
    // Opens the capture of a window that does not change. wlroots sends a screen cast a frame
    // only for new damage, and its portal hands the first one over as soon as its own stream
    // runs: when that is before ours is scheduled (a loaded machine), the frame is lost and no
    // other comes. Then, and only then, the window commits its picture again.
    std::unique_ptr<platform::IGameCapture> OpenStill(const platform::GameSource& game, std::string* failure) {
        std::mutex mutex;
        std::condition_variable opened;
        bool done = false;
        std::thread nudge([&] {
            std::unique_lock lock(mutex);
            while (!WindowStream() && !opened.wait_for(lock, 1500ms, [&] { return done; })) kill(window_->Pid(), SIGUSR2);
        });
        auto capture = platform::OpenGameCapture(game, failure);
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        opened.notify_all();
        nudge.join();
        return capture;
    }
    // Where the window shows in the shared picture.
    Area WindowArea(platform::PictureSize shared) const {
        if (WindowStream()) return {0, 0, shared.width, shared.height};
        return WindowOnSway();
    }

    std::unique_ptr<ChildProcess> window_;
};

}  // namespace

// The portal shares the game; its picture holds the window's quadrants in place, a picture that
// has not changed is reported as such, and the portal answers a token for the next broadcast:
// on GNOME the one that passed its picker, on KDE a new one (KDE's are good for one use).
TEST_F(PortalCaptureTest, SharesTheGamesPicture) {
    const platform::GameSource game = StartGame("400x300", false);
    std::string failure;
    auto capture = OpenStill(game, &failure);
    ASSERT_NE(capture, nullptr) << failure;
    platform::PictureSize size;
    ASSERT_EQ(State::Shown, capture->Look(&size));
    if (WindowStream()) {
        // The window stream is the window's size, or cropped to it.
        EXPECT_EQ((platform::PictureSize{400, 300}), size);
        if (OnGnome()) EXPECT_EQ(game.restoreToken, capture->RestoreToken());
        else EXPECT_NE("", capture->RestoreToken());
    } else {
        EXPECT_EQ((platform::PictureSize{1280, 720}), size);
    }
    platform::Picture picture;
    ASSERT_EQ(Result::Fresh, capture->Capture(size.width, size.height, &picture));
    EXPECT_EQ(size.width, picture.width);
    ExpectQuadrants([&](int x, int y) { return PixelOf(picture, x, y); }, WindowArea(size), 8);
    // The window does not change: no new frame comes, the last one stands.
    EXPECT_EQ(Result::Unchanged, capture->Capture(size.width, size.height, &picture));
    int x = 0, y = 0;
    EXPECT_FALSE(capture->PointerAt(&x, &y)) << "the compositor draws the pointer";
}

// The whole sender broadcasts the shared game to nginx, and the decoded pictures show it. In a
// window stream the window's life follows: a new size ends the broadcast with reason 1, and
// closing the window ends it as a user stop.
TEST_F(PortalCaptureTest, BroadcastsTheGameResizeAndClose) {
    NginxRtmpServer server;
    ASSERT_TRUE(server.Start()) << server.ErrorLog();
    const platform::GameSource game = StartGame("320x240", true);
    std::string failure;
    std::shared_ptr<platform::IGameCapture> capture = platform::OpenGameCapture(game, &failure);
    ASSERT_NE(capture, nullptr) << failure;
    platform::PictureSize size;
    ASSERT_EQ(State::Shown, capture->Look(&size));
    const Area area = WindowArea(size);
    const CStreamSettings s = Settings(server.Url("portal"), size);
    RecordingOwner owner;
    {
        CSendDataStream sender(&owner, &s, capture, NoDeviceAudio());
        ASSERT_EQ(1, sender.Start(capture, "wayland-test-window"));
        ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= 20; }, 20000ms));
        EXPECT_TRUE(owner.Reasons().empty());
        if (WindowStream()) {
            ::kill(window_->Pid(), SIGUSR1);  // 240 × 320 now
            EXPECT_EQ(kLiveStopResized, owner.WaitFirst(10000));
        }
    }
    ASSERT_TRUE(server.WaitRecordingClosed("portal"));
    for (int frame : {2, 15}) {
        SCOPED_TRACE(frame);
        const std::string raw = Capture("ffmpeg -v error -i '" + server.Recording("portal") +
                                        "' -vf 'select=eq(n\\," + std::to_string(frame) +
                                        ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
        ASSERT_EQ(static_cast<size_t>(s.width) * s.height * 3, raw.size());
        const auto at = [&](int x, int y) {
            const unsigned char* p = reinterpret_cast<const unsigned char*>(raw.data()) +
                                     (static_cast<size_t>(y) * s.width + x) * 3;
            return Rgb{p[0], p[1], p[2]};
        };
        ExpectQuadrants(at, area, 40);
    }

    if (!WindowStream()) return;  // a monitor stream outlives any window
    RecordingOwner closing;
    capture = platform::OpenGameCapture(StartGame("320x240", true), &failure);
    ASSERT_NE(capture, nullptr) << failure;
    const CStreamSettings again = Settings(server.Url("closed"), {320, 240});
    CSendDataStream sender(&closing, &again, capture, NoDeviceAudio());
    ASSERT_EQ(1, sender.Start(capture, "wayland-test-window"));
    ASSERT_TRUE(WaitFor([&] { return sender.Encoder().VideoFramesEncoded() >= 5; }, 20000ms));
    window_->Stop();
    // The portal says so on the bus, which the program's window thread listens to.
    EXPECT_TRUE(WaitFor(
        [&] {
            QCoreApplication::processEvents();
            return !closing.Reasons().empty();
        },
        10000ms));
    EXPECT_EQ((std::vector<int>{-1}), closing.Reasons()) << "closing the window ends the broadcast as a user stop";
}

// The program's own broadcast session: once a broadcast ends (the stop button, a lost
// connection), GNOME no longer casts the game, and the broadcast that continues it shares the
// game again without the picker, through the token kept for it.
TEST_F(PortalCaptureTest, TheSharingEndsWithTheBroadcast) {
    if (!OnGnome()) GTEST_SKIP() << "only GNOME tells the test which screen casts it runs";
    NginxRtmpServer server;
    ASSERT_TRUE(server.Start()) << server.ErrorLog();
    TempDir dir;
    ScopedChdir cd(dir.path());  // where the session writes the member's files
    const platform::GameSource game = StartGame("320x240", true);
    MY_DATA_SPACE::CData data;
    data.SetCaptureToken("wayland-test-window", game.restoreToken);
    RecordingOwner owner;
    std::vector<std::string> messages;
    PortalSender* sender = nullptr;
    BroadcastServices services;
    services.requestStreamInfo = [&](const std::string&, const std::string&) {
        const std::string url = server.Url("shared");
        data.SetPipUrl(url.substr(0, url.rfind('/')));
        data.SetPipName("shared");
        return true;
    };
    services.sendEndNotice = [] {};
    services.resolveStreamUrl = [](const std::string&, std::string&) { return false; };
    services.openCapture = [](const platform::GameSource& source, const std::string&,
                              std::optional<std::string>* answeredToken) {
        std::string failure;
        std::shared_ptr<platform::IGameCapture> capture = platform::OpenGameCapture(source, &failure, answeredToken);
        EXPECT_NE(nullptr, capture) << failure;
        return capture;
    };
    services.makeSender = [&](ILiveOwner* o, const CStreamSettings* settings,
                              std::shared_ptr<platform::IGameCapture> capture) -> std::unique_ptr<ILiveSender> {
        auto made = std::make_unique<PortalSender>(o, settings, std::move(capture));
        sender = made.get();
        return made;
    };
    services.readSettings = [] {
        ChosenSettings chosen;
        chosen.video = {1, 10, 0, 0, 100};
        chosen.audio = {22050, 1, 44100, 0, 0};
        return chosen;
    };
    services.message = [&](const std::string& text) { messages.push_back(text); };
    CBroadcastSession session(data, services, &owner);
    const auto broadcasting = [&] {
        const int from = sender->stream.Encoder().VideoFramesEncoded();
        return WaitFor([&] { return sender->stream.Encoder().VideoFramesEncoded() >= from + 5; }, 20000ms);
    };

    ASSERT_EQ(1, session.RequestBroadcast("g", "i", game, "wayland-test-window")) << ::testing::PrintToString(messages);
    ASSERT_TRUE(broadcasting());
    EXPECT_EQ(1, GnomeScreenCasts());
    session.LiveStop(kLiveStopConnection);
    EXPECT_TRUE(WaitFor([] { return GnomeScreenCasts() == 0; }, 10000ms))
        << "GNOME still casts the game after the connection was lost";

    // No picker could be answered here: the kept token must be one GNOME honours.
    ASSERT_TRUE(session.OffersContinue());
    ASSERT_EQ(1, session.ContinueBroadcast()) << ::testing::PrintToString(messages);
    ASSERT_TRUE(broadcasting());
    EXPECT_EQ(1, GnomeScreenCasts());
    session.UserStop();
    EXPECT_TRUE(WaitFor([] { return GnomeScreenCasts() == 0; }, 10000ms))
        << "GNOME still casts the game after the stop button";

    // A start the streaming server refuses shares nothing either, though its sender is kept
    // for the next try.
    server.Stop();
    messages.clear();
    EXPECT_EQ(0, session.StartBroadcast(game, "wayland-test-window"));
    EXPECT_EQ((std::vector<std::string>{"连接服务器失败"}), messages);
    ASSERT_NE(nullptr, session.Sender());
    EXPECT_TRUE(WaitFor([] { return GnomeScreenCasts() == 0; }, 10000ms))
        << "GNOME still casts the game after a refused start";
    EXPECT_TRUE(owner.Reasons().empty());
}

// A token the portal does not know (revoked, or from another machine) is not an error: the
// portal shows its picker again, which nobody answers here. Giving up on the answer takes the
// picker off the member's screen at once, not only when the portal session ends.
TEST_F(PortalCaptureTest, UnknownTokenBringsThePickerBack) {
    if (!WindowStream()) GTEST_SKIP() << "sway's portal casts the output without a picker";
    StartGame("400x300", false);
    const auto pickerShown = [] {
        if (OnKde()) return !KdeWindow("org.freedesktop.impl.portal.desktop.kde").empty();
        return Capture(kBin + "/portal-screencast --list-windows").find("window xdg-desktop-portal-gnome.desktop ") !=
               std::string::npos;
    };
    bool pickerSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { pickerSeen = pickerSeen || pickerShown(); });
    watch.start(250);  // runs while the portal client waits for the answer
    portal::ScreenCastPortal portal(8000);
    portal::SharedStream shared;
    EXPECT_FALSE(portal.Open("11111111-2222-3333-4444-555555555555", &shared));
    watch.stop();
    EXPECT_TRUE(pickerSeen) << "no picker showed for an unknown token";
    EXPECT_EQ(portal::ScreenCastPortal::Failure::NoPortal, portal.LastFailure());
    EXPECT_NE(std::string::npos, portal.FailureText().find("no answer")) << portal.FailureText();
    // The session is still ours; only the request was given up.
    EXPECT_TRUE(WaitFor([&] { return !pickerShown(); }, 10000ms)) << "the picker stayed after the client gave up";
}

// Without a portal on the bus (an X11 session's bus, or none), a game without an X11 window
// cannot be shared, and the reason says which: in a Wayland session the portal is missing; in an
// X11 session the portal is never asked, so its words there would come from elsewhere.
TEST(PortalCaptureNoPortal, SaysWhy) {
    static int argc = 1;
    static char name[] = "portal_capture_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const std::string display = wayland != nullptr ? wayland : "";
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const std::string session = type != nullptr ? type : "";
    const struct {
        const char* sessionType;
        const char* says;
        bool namesThePortal;
    } cases[] = {
        {"wayland", "the ScreenCast portal: no ScreenCast portal on the session bus", true},
        {"x11", "the game has no window on this display", false},
    };
    ::unsetenv("WAYLAND_DISPLAY");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sessionType);
        ::setenv("XDG_SESSION_TYPE", c.sessionType, 1);
        platform::GameSource game;
        game.pid = 1;
        std::string failure;
        EXPECT_EQ(nullptr, platform::OpenGameCapture(game, &failure));
        EXPECT_EQ(c.says, failure);
        EXPECT_EQ(c.namesThePortal, failure.find("portal") != std::string::npos) << failure;
    }
    if (!display.empty()) ::setenv("WAYLAND_DISPLAY", display.c_str(), 1);
    if (type != nullptr) ::setenv("XDG_SESSION_TYPE", session.c_str(), 1);
    else ::unsetenv("XDG_SESSION_TYPE");
}
