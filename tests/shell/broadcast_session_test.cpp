// The broadcast session without windows: picture sizes, publish address, the stream request, the
// sender's life, the stop rules and what is kept of the member's settings.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "AudioSourceList.h"
#include "CBroadcastSession.h"
#include "CData.h"
#include "CFileCipher.h"
#include "StreamSettingsBuilder.h"
#include "TempDir.h"

using MY_DATA_SPACE::CData;

TEST(PictureSizeRules, MultiplesOfFourAndTheFallBack) {
    const PictureSize a = ComputePictureSize(1001, 601, 75);
    EXPECT_EQ(1000, a.sourceWidth);
    EXPECT_EQ(600, a.sourceHeight);
    EXPECT_EQ(748, a.width);  // 750 and 450 rounded down
    EXPECT_EQ(448, a.height);

    const PictureSize tiny = ComputePictureSize(6, 6, 50);
    EXPECT_EQ(4, tiny.sourceWidth);
    EXPECT_EQ(4, tiny.sourceHeight);
    EXPECT_EQ(640, tiny.width);
    EXPECT_EQ(480, tiny.height);

    const PictureSize full = ComputePictureSize(640, 480, 100);
    EXPECT_EQ(640, full.width);
    EXPECT_EQ(480, full.height);
    // One side collapsing is enough for the fall-back.
    const PictureSize thin = ComputePictureSize(800, 3, 100);
    EXPECT_EQ(640, thin.width);
    EXPECT_EQ(480, thin.height);
}

TEST(PublishUrlRules, ExactlyOneSlashBeforeTheStreamKey) {
    EXPECT_EQ("rtmp://h:1/live/key", PublishUrl("rtmp://h:1/live", "key"));
    EXPECT_EQ("rtmp://h:1/live/key", PublishUrl("rtmp://h:1/live/", "key"));
    EXPECT_EQ("/key", PublishUrl("", "key"));
}

TEST(LiveStopWords, ByReason) {
    EXPECT_STREQ("直播中断, 直播中不能改变窗体大小", LiveStopMessage(1));
    EXPECT_STREQ("直播中断", LiveStopMessage(2));
    EXPECT_STREQ("直播停止", LiveStopMessage(0));
    EXPECT_STREQ("直播停止", LiveStopMessage(7));
}

// "不直播声音", the microphone with the computer's sound, the microphone, the game's sound, then
// at most 20 more capture devices: the stored indexes 0, 1 and 2 keep their meaning.
TEST(AudioSourceList, FixedEntriesThenAtMostTwentyDevices) {
    using platform::AudioSourceChoice;
    std::vector<platform::AudioSourceInfo> sources = {{"", "默认设备"}};
    for (int i = 1; i <= 25; ++i) sources.push_back({"src" + std::to_string(i), "设备" + std::to_string(i)});
    const auto entries = AudioSourceEntries(sources);
    ASSERT_EQ(24u, entries.size());
    EXPECT_EQ("不直播声音", entries[kNoSoundEntry].label);
    EXPECT_FALSE(entries[kNoSoundEntry].source.has_value());
    EXPECT_EQ("麦克风和电脑声音", entries[kMicrophoneAndComputerEntry].label);
    EXPECT_EQ(AudioSourceChoice::MicrophoneAndComputer(), entries[kMicrophoneAndComputerEntry].source);
    EXPECT_EQ("麦克风", entries[kMicrophoneEntry].label);
    EXPECT_EQ(AudioSourceChoice(""), entries[kMicrophoneEntry].source);
    EXPECT_EQ("只直播游戏声音", entries[kGameSoundEntry].label);
    EXPECT_EQ(AudioSourceChoice::GameOnly(), entries[kGameSoundEntry].source);
    EXPECT_EQ("设备1", entries[4].label);
    EXPECT_EQ(AudioSourceChoice("src1"), entries[4].source);
    EXPECT_EQ("设备20", entries[23].label);
    EXPECT_EQ(AudioSourceChoice("src20"), entries[23].source);

    EXPECT_EQ(1u, AudioSourceEntries({}).size());  // no sound server: only "不直播声音"
}

namespace {

struct World {
    int streamRequests = 0;
    bool requestSucceeds = true;
    int endNotices = 0;
    bool windowExists = true;
    platform::PictureSize client{1001, 601};
    int raised = 0;
    // What the capture was opened for, and the token the portal answers with.
    std::vector<platform::GameSource> opened;
    std::string answeredToken;
    // What a failed open had from the portal: nullopt when Start never answered.
    std::optional<std::string> tokenOfAFailedOpen;
    // Run while the capture opens, as the window's events are while the portal's picker is up;
    // then the open gives up (withdrawn), or had its answer already when the stop came.
    std::function<void()> duringOpen;
    bool answeredBeforeTheStop = false;
    int cancels = 0;
    // Every capture opened, as long as anyone holds it.
    std::vector<std::weak_ptr<platform::IGameCapture>> captures;
    int sendersMade = 0;
    int startsAnswer = 1;
    std::vector<std::pair<platform::WindowId, std::string>> starts;
    std::vector<std::string> messages;
    ChosenSettings chosen;
    std::string lastGame, lastIntro;
    // When set, the sender's timer posts a stop while Start is still running.
    bool stopDuringStart = false;
};

// The window's side of the sender's notices: each stop is stamped with the session's generation
// at the moment it is posted, as the main window does.
class StampingOwner : public ILiveOwner {
public:
    const CBroadcastSession* session = nullptr;
    std::vector<unsigned> stamps;
    void PostLiveStop(int) override { stamps.push_back(session->Generation()); }
    void PostGameWindowLost() override { stamps.push_back(session->Generation()); }
};

// The game as the world shows it; remembers the window it was opened for.
class WorldCapture : public platform::IGameCapture {
public:
    WorldCapture(World& w, platform::WindowId window) : w_(w), window_(window) {}
    State Look(platform::PictureSize* size) override {
        *size = w_.client;
        return State::Shown;
    }
    Result Capture(int, int, platform::Picture*) override { return Result::Failed; }
    bool PointerAt(int*, int*) override { return false; }
    void BringToFront() override { ++w_.raised; }
    std::string RestoreToken() const override { return w_.answeredToken; }
    platform::WindowId Window() const { return window_; }

private:
    World& w_;
    platform::WindowId window_;
};

platform::GameSource Window(platform::WindowId window) {
    platform::GameSource game;
    game.window = window;
    game.pid = 4242;
    return game;
}

class FakeSender : public ILiveSender {
public:
    FakeSender(World& w, ILiveOwner* owner) : w_(w), owner_(owner) {}
    // Holds the capture it was started with, refused or not, as the real one does.
    int Start(std::shared_ptr<platform::IGameCapture> capture, const std::string& processName) override {
        w_.starts.emplace_back(static_cast<WorldCapture&>(*capture).Window(), processName);
        held_ = std::move(capture);
        if (w_.stopDuringStart && owner_ != nullptr) owner_->PostLiveStop(kLiveStopConnection);
        return w_.startsAnswer;
    }
    void ReleaseCapture() override { held_.reset(); }

private:
    World& w_;
    ILiveOwner* owner_;
    std::shared_ptr<platform::IGameCapture> held_;
};

BroadcastServices Services(World& w, CData& data) {
    BroadcastServices s;
    s.requestStreamInfo = [&w, &data](const std::string& game, const std::string& intro) {
        ++w.streamRequests;
        w.lastGame = game;
        w.lastIntro = intro;
        if (!w.requestSucceeds) return false;
        data.SetPipName("s00key");
        data.SetPipUrl("rtmp://streams.example:1935/live");
        data.SetLid("42");
        return true;
    };
    s.sendEndNotice = [&w] { ++w.endNotices; };
    s.cancelOpen = [&w] { ++w.cancels; };
    s.resolveStreamUrl = [](const std::string& url, std::string& resolved) {
        if (url.find("streams.example") == std::string::npos) return false;
        resolved = "rtmp://10.0.0.7:1935/live";
        return true;
    };
    s.openCapture = [&w](const platform::GameSource& game, const std::string&,
                         std::optional<std::string>* answeredToken) -> std::shared_ptr<platform::IGameCapture> {
        w.opened.push_back(game);
        if (w.duringOpen) {
            const auto during = std::exchange(w.duringOpen, nullptr);
            during();
            if (!w.answeredBeforeTheStop) return nullptr;
        }
        if (!w.windowExists) {
            *answeredToken = w.tokenOfAFailedOpen;
            return nullptr;
        }
        *answeredToken = w.answeredToken;
        auto capture = std::make_shared<WorldCapture>(w, game.window);
        w.captures.push_back(capture);
        return capture;
    };
    s.makeSender = [&w](ILiveOwner* owner, const CStreamSettings*,
                        std::shared_ptr<platform::IGameCapture>) -> std::unique_ptr<ILiveSender> {
        ++w.sendersMade;
        return std::make_unique<FakeSender>(w, owner);
    };
    s.readSettings = [&w] { return w.chosen; };
    s.message = [&w](const std::string& text) { w.messages.push_back(text); };
    return s;
}

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        world.chosen.bitRate = 800000;
        world.chosen.video = {1, 15, 2, 0, 75};
        world.chosen.audio = {22050, 1, 44100, 1, 1};
        world.chosen.audioDevice = std::string();
    }
    World world;
    CData data;
};

}  // namespace

TEST_F(Session, RequestThenStartBuildsTheSettingsAndStoresTheChoice) {
    CBroadcastSession session(data, Services(world, data), nullptr);
    ASSERT_EQ(1, session.RequestBroadcast("STRIMO演示游戏", "今晚 & 明天", Window(0x400001), "strimo-sample-game"));
    EXPECT_EQ("今晚 & 明天", world.lastIntro);
    EXPECT_TRUE(world.messages.empty());
    const CStreamSettings& s = *session.Settings();
    EXPECT_EQ("rtmp://10.0.0.7:1935/live/s00key", s.url);
    EXPECT_EQ(1000, s.sourceWidth);
    EXPECT_EQ(600, s.sourceHeight);
    EXPECT_EQ(748, s.width);
    EXPECT_EQ(448, s.height);
    EXPECT_EQ(15, s.frameRate);
    EXPECT_EQ(2, s.quality);
    EXPECT_EQ(1, s.audioEnabled);
    EXPECT_EQ(22050, s.sampleRate);
    EXPECT_EQ(16, s.bitsPerSample);
    EXPECT_EQ(1, s.channels);
    EXPECT_EQ(800000, s.bitRate);
    ASSERT_TRUE(s.audioDevice.has_value());
    EXPECT_EQ("", *s.audioDevice);
    ASSERT_EQ(1u, world.starts.size());
    EXPECT_EQ(0x400001u, world.starts[0].first);
    EXPECT_EQ("strimo-sample-game", world.starts[0].second);

    EXPECT_EQ(1, session.Broadcasting());
    EXPECT_EQ(1, data.Broadcasting());
    EXPECT_EQ(800000, data.BitRate());
    EXPECT_EQ(world.chosen.video, data.Video());
    EXPECT_EQ(world.chosen.audio, data.Audio());
}

TEST_F(Session, FailedRequestSaysSoAndStartsNothing) {
    world.requestSucceeds = false;
    CBroadcastSession session(data, Services(world, data), nullptr);
    EXPECT_EQ(0, session.RequestBroadcast("g", "i", Window(1), "p"));
    EXPECT_EQ((std::vector<std::string>{"获取信息失败"}), world.messages);
    EXPECT_EQ(0, world.sendersMade);
    EXPECT_EQ(0, session.Broadcasting());
}

TEST_F(Session, UnresolvableServerKeepsTheAddressAndAMissingWindowFailsTheStart) {
    CBroadcastSession session(data, Services(world, data), nullptr);
    world.windowExists = false;
    EXPECT_EQ(0, session.RequestBroadcast("g", "i", Window(1), "p"));
    EXPECT_EQ((std::vector<std::string>{"获取游戏界面出错", "连接服务器失败"}), world.messages);
    EXPECT_EQ(0, world.sendersMade);
    EXPECT_EQ(0, data.Broadcasting());

    world.windowExists = true;
    world.messages.clear();
    data.SetPipUrl("rtmp://unknown.host/live/");
    data.SetPipName("k");
    EXPECT_EQ(1, session.StartBroadcast(Window(1), "p"));
    EXPECT_EQ("rtmp://unknown.host/live/k", session.Settings()->url);
}

// Only an RTMP server's address reaches a sender; anything else from the service fails the start
// the way a refused connection does.
TEST_F(Session, OnlyRtmpAddressesArePublishedTo) {
    CBroadcastSession session(data, Services(world, data), nullptr);
    data.SetPipName("key");
    const struct {
        const char* pipUrl;
        bool publishes;
    } cases[] = {
        {"/home/m", false},           {"file:///home/m", false}, {"http://127.0.0.1/live", false},
        {"rtmpt://h/live", false},    {"pipe:", false},          {"", false},
        {"rtmp:/h/live", false},      {"rtmp://h/live", true},   {"RTMP://h/live/", true},
        {"rtmps://h:443/live", true}, {"RtMpS://h/live", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pipUrl);
        world.messages.clear();
        const std::size_t startsBefore = world.starts.size();
        data.SetPipUrl(c.pipUrl);
        EXPECT_EQ(c.publishes ? 1 : 0, session.StartBroadcast(Window(1), "p"));
        EXPECT_EQ(c.publishes ? 1u : 0u, world.starts.size() - startsBefore);
        if (c.publishes) {
            EXPECT_TRUE(world.messages.empty());
            session.UserStop();
        } else {
            EXPECT_EQ((std::vector<std::string>{"连接服务器失败"}), world.messages);
            EXPECT_EQ(0, data.Broadcasting());
        }
    }
}

// A window narrower or lower than 4 pixels, or wider than the encoder takes, cannot be measured:
// the start fails with the usual words, no sender (and so no encoder) is made, the program goes on.
TEST_F(Session, WindowsTheEncoderCannotTakeFailTheStart) {
    CBroadcastSession session(data, Services(world, data), nullptr);
    for (const platform::PictureSize size : {platform::PictureSize{3, 490}, platform::PictureSize{890, 3},
                                             platform::PictureSize{0, 0}, platform::PictureSize{20000, 600},
                                             platform::PictureSize{600, kMaxPictureSide + 4}}) {
        world.client = size;
        world.messages.clear();
        EXPECT_EQ(0, session.RequestBroadcast("g", "i", Window(1), "p"));
        EXPECT_EQ((std::vector<std::string>{"获取游戏界面出错", "连接服务器失败"}), world.messages);
        EXPECT_EQ(0, world.sendersMade);
    }
    world.client = {4, 4};  // the smallest picture
    world.messages.clear();
    EXPECT_EQ(1, session.RequestBroadcast("g", "i", Window(1), "p"));
    EXPECT_EQ(4, session.Settings()->sourceWidth);
    EXPECT_EQ(640, session.Settings()->width);
}

// The sender's timer runs before Start returns: a stop it posts from there belongs to the
// broadcast being started, not to the one before.
TEST_F(Session, StopPostedWhileStartingBelongsToTheNewBroadcast) {
    world.stopDuringStart = true;
    StampingOwner owner;
    CBroadcastSession session(data, Services(world, data), &owner);
    owner.session = &session;
    ASSERT_EQ(1, session.RequestBroadcast("g", "i", Window(1), "p"));
    ASSERT_EQ(1u, owner.stamps.size());
    EXPECT_EQ(session.Generation(), owner.stamps[0]);
    session.LiveStop(kLiveStopConnection);
    ASSERT_EQ(1, session.ContinueBroadcast());
    ASSERT_EQ(2u, owner.stamps.size());
    EXPECT_EQ(session.Generation(), owner.stamps[1]);
    EXPECT_NE(owner.stamps[0], owner.stamps[1]);
}

TEST_F(Session, RefusedStartKeepsTheSenderForTheNextTry) {
    world.startsAnswer = 0;
    CBroadcastSession session(data, Services(world, data), nullptr);
    EXPECT_EQ(0, session.RequestBroadcast("g", "i", Window(1), "p"));
    EXPECT_EQ((std::vector<std::string>{"连接服务器失败"}), world.messages);
    EXPECT_EQ(0, data.Broadcasting());
    // The game is not kept shared for the next try, by the session or the sender.
    ASSERT_EQ(1u, world.captures.size());
    EXPECT_TRUE(world.captures[0].expired()) << "a refused start left the game shared";
    world.startsAnswer = 1;
    EXPECT_EQ(1, session.StartBroadcast(Window(1), "p"));
    EXPECT_EQ(1, world.sendersMade);
    EXPECT_EQ(2u, world.starts.size());
}

TEST_F(Session, InterruptionOffersContinueWithoutANewStreamRequest) {
    // The game sound entry records the chosen game's own process, in the continued broadcast too.
    world.chosen.audioDevice = platform::AudioSourceChoice::GameOnly();
    CBroadcastSession session(data, Services(world, data), nullptr);
    ASSERT_EQ(1, session.RequestBroadcast("g", "i", Window(7), "game"));
    EXPECT_EQ(platform::AudioSourceChoice::GameOnly(4242), session.Settings()->audioDevice);
    const unsigned running = session.Generation();
    EXPECT_EQ("直播中断, 直播中不能改变窗体大小", session.LiveStop(1));
    EXPECT_NE(running, session.Generation());
    EXPECT_EQ(nullptr, session.Sender());
    EXPECT_EQ(0, session.Broadcasting());
    EXPECT_EQ(0, data.Broadcasting());
    EXPECT_EQ(0, world.endNotices);  // the stream broke; the room ends on the server's side
    EXPECT_TRUE(session.OffersContinue());

    ASSERT_EQ(1, session.ContinueBroadcast());
    EXPECT_EQ(1, world.streamRequests);
    EXPECT_EQ(2, world.sendersMade);
    EXPECT_EQ(7u, world.starts.back().first);
    EXPECT_EQ("game", world.starts.back().second);
    EXPECT_EQ(platform::AudioSourceChoice::GameOnly(4242), session.Settings()->audioDevice);

    EXPECT_EQ("直播中断", session.LiveStop(2));
    session.DeclineContinue();
    EXPECT_FALSE(session.OffersContinue());
}

// A game without an X11 window goes to the desktop's portal: the token it answered for this
// game last time goes with the request and its new answer is kept for the game. A failed open
// shows the game dialog's words; it keeps the token for the next try when the portal never
// answered Start, and takes the new one when it did, since the old one was then spent. X11
// windows need none.
TEST_F(Session, GameWithoutAWindowKeepsThePortalsTokenPerGame) {
    CBroadcastSession session(data, Services(world, data), nullptr);
    platform::GameSource native;
    native.pid = 99;
    world.answeredToken = "tok-1";
    ASSERT_EQ(1, session.RequestBroadcast("g", "i", native, "wlgame"));
    EXPECT_EQ("", world.opened.back().restoreToken);
    EXPECT_EQ("tok-1", data.CaptureToken("wlgame"));
    session.UserStop();

    world.answeredToken = "tok-2";
    ASSERT_EQ(1, session.StartBroadcast(native, "wlgame"));
    EXPECT_EQ("tok-1", world.opened.back().restoreToken);
    EXPECT_EQ("tok-2", data.CaptureToken("wlgame"));
    EXPECT_EQ("", data.CaptureToken("other"));
    session.UserStop();

    ASSERT_EQ(1, session.StartBroadcast(Window(7), "x11game"));
    EXPECT_EQ("", world.opened.back().restoreToken);
    EXPECT_EQ("", data.CaptureToken("x11game"));
    session.UserStop();

    world.windowExists = false;
    world.messages.clear();
    EXPECT_EQ(0, session.StartBroadcast(native, "wlgame"));
    EXPECT_EQ((std::vector<std::string>{"获取游戏窗口失败", "连接服务器失败"}), world.messages);
    EXPECT_EQ("tok-2", data.CaptureToken("wlgame"));

    // Start answered, then no PipeWire connection or no first picture.
    world.tokenOfAFailedOpen = "tok-3";
    EXPECT_EQ(0, session.StartBroadcast(native, "wlgame"));
    EXPECT_EQ("tok-2", world.opened.back().restoreToken);
    EXPECT_EQ("tok-3", data.CaptureToken("wlgame")) << "the spent token was kept";
    world.windowExists = true;
    ASSERT_EQ(1, session.StartBroadcast(native, "wlgame"));
    EXPECT_EQ("tok-3", world.opened.back().restoreToken);
}

// However a broadcast ends, its capture is let go at once: a game shared by the desktop's portal
// stops being shared (GNOME's indicator goes off, PipeWire stops copying pictures) rather than at
// the next broadcast. The token for the game stays, and a continued broadcast opens it again.
TEST_F(Session, TheCaptureIsLetGoWhenTheBroadcastEnds) {
    const struct {
        const char* what;
        std::function<void(CBroadcastSession&)> stop;
        bool continues;
    } cases[] = {
        {"the stop button", [](CBroadcastSession& s) { s.UserStop(); }, false},
        {"the connection lost", [](CBroadcastSession& s) { s.LiveStop(kLiveStopConnection); }, true},
        {"the window resized", [](CBroadcastSession& s) { s.LiveStop(kLiveStopResized); }, true},
        {"the window going", [](CBroadcastSession& s) { s.End(); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        World w;
        w.chosen = world.chosen;
        w.answeredToken = "tok-1";
        CData d;
        CBroadcastSession session(d, Services(w, d), nullptr);
        platform::GameSource native;
        native.pid = 99;
        ASSERT_EQ(1, session.RequestBroadcast("g", "i", native, "wlgame"));
        ASSERT_EQ(1u, w.captures.size());
        EXPECT_FALSE(w.captures[0].expired());
        c.stop(session);
        EXPECT_TRUE(w.captures[0].expired()) << "the game is still shared after the broadcast ended";
        EXPECT_EQ("tok-1", d.CaptureToken("wlgame"));
        if (!c.continues) continue;
        ASSERT_TRUE(session.OffersContinue());
        w.answeredToken = "tok-2";
        ASSERT_EQ(1, session.ContinueBroadcast());
        ASSERT_EQ(2u, w.opened.size());
        EXPECT_EQ("tok-1", w.opened[1].restoreToken);
        EXPECT_EQ(99, w.opened[1].pid);
        EXPECT_EQ("tok-2", d.CaptureToken("wlgame"));
        EXPECT_EQ(1, w.streamRequests);
    }
}

// The portal's answer is waited for in a nested event loop, where the member's stop and the
// window's end arrive. Either withdraws the open; the start then fails without a word, makes no
// sender and leaves nothing shared, even when the portal's answer had come first. A second start
// from there is refused.
TEST_F(Session, AStopOrTheEndWhileThePortalIsAskedWithdrawsTheOpen) {
    const struct {
        const char* what;
        std::function<void(CBroadcastSession&)> during;
        bool answeredFirst;
        bool ends;
    } cases[] = {
        {"the stop button, withdrawn", [](CBroadcastSession& s) { s.UserStop(); }, false, false},
        {"the stop button, answered first", [](CBroadcastSession& s) { s.UserStop(); }, true, false},
        {"the window's end, withdrawn", [](CBroadcastSession& s) { s.End(); }, false, true},
        {"the window's end, answered first", [](CBroadcastSession& s) { s.End(); }, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        World w;
        w.chosen = world.chosen;
        w.answeredToken = "tok-2";
        CData d;
        d.SetCaptureToken("wlgame", "tok-1");
        CBroadcastSession session(d, Services(w, d), nullptr);
        platform::GameSource native;
        native.pid = 99;
        w.answeredBeforeTheStop = c.answeredFirst;
        w.duringOpen = [&] {
            EXPECT_TRUE(session.Opening());
            c.during(session);
        };
        EXPECT_EQ(0, session.RequestBroadcast("g", "i", native, "wlgame"));
        EXPECT_EQ(1, w.cancels);
        EXPECT_FALSE(session.Opening());
        EXPECT_TRUE(w.messages.empty()) << w.messages.front();
        EXPECT_EQ(0, w.sendersMade);
        EXPECT_EQ(0, session.Broadcasting());
        for (const auto& capture : w.captures) EXPECT_TRUE(capture.expired()) << "a withdrawn start left the game shared";
        // An answer that came all the same spent the old token.
        EXPECT_EQ(c.answeredFirst ? "tok-2" : "tok-1", d.CaptureToken("wlgame"));
        if (c.ends) {
            EXPECT_EQ(nullptr, session.Settings());
            continue;
        }
        // A stop outside an open has nothing to withdraw; the next start is a whole one.
        session.UserStop();
        EXPECT_EQ(1, w.cancels);
        EXPECT_EQ(1, session.StartBroadcast(native, "wlgame"));
    }

    World w;
    w.chosen = world.chosen;
    CBroadcastSession session(data, Services(w, data), nullptr);
    w.duringOpen = [&] { EXPECT_EQ(0, session.StartBroadcast(Window(8), "other")); };
    w.answeredBeforeTheStop = true;
    EXPECT_EQ(1, session.RequestBroadcast("g", "i", Window(7), "game"));
    EXPECT_EQ(1u, w.opened.size());
    EXPECT_EQ(7u, w.starts.back().first);
}

TEST_F(Session, UserStopTellsTheServiceOnceAndOffersNoContinue) {
    CBroadcastSession session(data, Services(world, data), nullptr);
    ASSERT_EQ(1, session.RequestBroadcast("g", "i", Window(7), "game"));
    EXPECT_EQ("直播停止", session.UserStop());
    EXPECT_EQ(1, world.endNotices);
    EXPECT_EQ(2, session.Interrupted());
    EXPECT_FALSE(session.OffersContinue());
    // A second stop (a late notification) finds nothing running and tells nobody.
    session.UserStop();
    EXPECT_EQ(1, world.endNotices);
}

TEST_F(Session, EndingWhileBroadcastingTellsTheServiceAndKeepsTheChoiceOnce) {
    {
        CBroadcastSession session(data, Services(world, data), nullptr);
        ASSERT_EQ(1, session.RequestBroadcast("g", "i", Window(7), "game"));
        world.chosen.bitRate = 1000000;  // chosen later, read at the end
        session.End();
        EXPECT_EQ(1, world.endNotices);
        EXPECT_EQ(0, data.Broadcasting());
        EXPECT_EQ(nullptr, session.Settings());
        world.chosen.bitRate = 300000;  // the destructor's End does nothing more
    }
    EXPECT_EQ(1, world.endNotices);
    EXPECT_EQ(1000000, data.BitRate());
}

TEST(SessionFiles, TheChoiceIsOnDiskAsSoonAsABroadcastStarts) {
    testsupport::TempDir dir;
    testsupport::ScopedChdir cd(dir.path());
    std::filesystem::create_directory("default");
    ASSERT_TRUE(SaveEncrypted("default/usr.xml", "<usr version=\"1.0\"/>"));
    ASSERT_TRUE(SaveEncrypted("default/config.xml",
                              "<kanvo><server><a>x</a></server><game_list/><system/>"
                              "<person name=\"\"><video><size>100</size><frame_rate num=\"1\" den=\"10\"/>"
                              "<quality>0</quality><record>0</record><deviceID>0</deviceID><savefile></savefile>"
                              "</video><audio><sample_rate>22050</sample_rate><channels>1</channels>"
                              "<datarate>44100</datarate><record>0</record><deviceID>0</deviceID></audio>"
                              "<net><streamID>0</streamID><speed>500000</speed></net></person></kanvo>"));
    World world;
    world.chosen.bitRate = 1000000;
    world.chosen.video = {1, 15, 1, 0, 50};
    world.chosen.audio = {22050, 1, 44100, 0, 0};
    // The files are read back while the data object still lives, as when the encoder ends the
    // process before any destructor runs.
    auto data = std::make_unique<CData>();
    ASSERT_TRUE(data->LoadUserFile());
    ASSERT_TRUE(data->LoadConfigFile());
    data->SetCurrentUser({"demo", "pw", true});
    ASSERT_TRUE(data->LoadPersonSettings());
    data->SetCaptureToken("wlgame", "tok-7");
    {
        CBroadcastSession session(*data, Services(world, *data), nullptr);
        ASSERT_EQ(1, session.RequestBroadcast("g", "i", Window(7), "game"));
        std::string config, user;
        ASSERT_TRUE(LoadEncrypted("config.xml", config));
        ASSERT_TRUE(LoadEncrypted("usr.xml", user));
        EXPECT_NE(std::string::npos, config.find("name=\"demo\"")) << config;
        EXPECT_NE(std::string::npos, config.find("1000000")) << config;
        EXPECT_NE(std::string::npos, config.find("den=\"15\"")) << config;
        EXPECT_NE(std::string::npos, user.find("name=\"demo\"")) << user;
        // The portal's token, kept for the member and the game.
        CData reread;
        ASSERT_TRUE(reread.LoadConfigFile());
        reread.SetCurrentUser({"demo", "pw", true});
        ASSERT_TRUE(reread.LoadPersonSettings());
        EXPECT_EQ("tok-7", reread.CaptureToken("wlgame"));
        EXPECT_EQ("", reread.CaptureToken("game"));
    }
}
