// The portal client against a stand-in for the desktop's ScreenCast portal on a private session
// bus: what it asks for, given what the portal offers, and how it takes each of its answers; and
// the program's broadcast session while the stand-in's picker waits for the member.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "CBroadcastSession.h"
#include "CData.h"
#include "FakeScreenCastPortal.h"
#include "GameCaptureFactory.h"
#include "GameCapturePortal.h"
#include "ScreenCastPortal.h"
#include "TempDir.h"
#include "WaitFor.h"

namespace {

using Failure = portal::ScreenCastPortal::Failure;
using Answers = FakeScreenCastPortal::Setup;
using Seen = FakeScreenCastPortal::Seen;

// Short enough for a test to wait out, long enough for the fake to answer on a loaded machine.
constexpr int kShortTimeoutMs = 300;
// A lost answer fails the case in this time rather than the picker's minutes.
constexpr int kAnswerLimitMs = 5000;

struct Outcome {
    bool opened = false;
    portal::SharedStream stream;
    Failure failure = Failure::None;
    std::string text;
};

// One portal session against `fake`, closed again before this returns.
Outcome OpenOnce(const FakeScreenCastPortal& fake, const std::string& restoreToken = {}) {
    EXPECT_TRUE(fake.Registered());
    portal::ScreenCastPortal portal(kAnswerLimitMs);
    Outcome out;
    out.opened = portal.Open(restoreToken, &out.stream);
    out.failure = portal.LastFailure();
    out.text = portal.FailureText();
    if (out.stream.pipeWireFd >= 0) ::close(out.stream.pipeWireFd);
    return out;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ScreenCastPortalClient, AsksForWhatThePortalOffersAndReadsTheSharedStream) {
    const struct {
        const char* what;
        uint version, sourceTypes, cursorModes;
        uint streamType, node;
        int width, height;
        uint askedType, askedCursor;  // 0: no cursor_mode asked
        bool embedded, asMetadata;
    } cases[] = {
        {"window offered, every cursor mode", 5, 1 | 2, 1 | 2 | 4, 2, 42, 640, 480, 2, 2, true, false},
        {"monitors only, arrow as metadata", 5, 1, 1 | 4, 1, 77, 1920, 1080, 1, 4, false, true},
        {"window only, arrow hidden only", 5, 2, 1, 2, 9, 300, 200, 2, 1, false, false},
        {"no cursor modes", 4, 1 | 2, 0, 2, 5, 800, 600, 2, 0, false, false},
        {"version 1 knows no cursor modes", 1, 1 | 2, 1 | 2 | 4, 2, 6, 800, 600, 2, 0, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Answers setup;
        setup.version = c.version;
        setup.sourceTypes = c.sourceTypes;
        setup.cursorModes = c.cursorModes;
        setup.streamSourceType = c.streamType;
        setup.node = c.node;
        setup.width = c.width;
        setup.height = c.height;
        FakeScreenCastPortal fake(setup);
        const Outcome out = OpenOnce(fake);
        ASSERT_TRUE(out.opened) << out.text;
        const Seen seen = fake.Asked();
        EXPECT_EQ(QStringList({"CreateSession", "SelectSources", "Start", "OpenPipeWireRemote"}), seen.calls);
        EXPECT_EQ(QVariant(c.askedType), seen.selectOptions.value("types"));
        EXPECT_EQ(QVariant(false), seen.selectOptions.value("multiple"));
        if (c.askedCursor == 0)
            EXPECT_FALSE(seen.selectOptions.contains("cursor_mode"));
        else
            EXPECT_EQ(QVariant(c.askedCursor), seen.selectOptions.value("cursor_mode"));
        EXPECT_EQ(c.embedded, out.stream.cursorEmbedded);
        EXPECT_EQ(c.asMetadata, out.stream.cursorAsMetadata);
        EXPECT_EQ(c.node, out.stream.nodeId);
        EXPECT_EQ(c.width, out.stream.width);
        EXPECT_EQ(c.height, out.stream.height);
        EXPECT_EQ(c.streamType, out.stream.sourceType);
    }
}

TEST(ScreenCastPortalClient, KeepsTheChoiceThroughRestoreTokensFromVersion4) {
    const struct {
        const char* what;
        uint version;
        const char* given;
        bool persists;          // persist_mode 2 and the given token (if any) were asked
        bool picker;            // the portal showed its picker
        const char* returned;
    } cases[] = {
        {"version 3 has no tokens", 3, "token-a", false, true, ""},
        {"a token the portal knows skips the picker", 4, "token-a", true, false, "token-b"},
        {"a token it does not know brings the picker back", 5, "token-gone", true, true, "token-b"},
        {"no token yet", 5, "", true, true, "token-b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Answers setup;
        setup.version = c.version;
        setup.knownToken = "token-a";
        setup.newToken = "token-b";
        FakeScreenCastPortal fake(setup);
        const Outcome out = OpenOnce(fake, c.given);
        ASSERT_TRUE(out.opened) << out.text;
        const QVariantMap asked = fake.Asked().selectOptions;
        EXPECT_EQ(c.persists ? QVariant(2u) : QVariant(), asked.value("persist_mode"));
        const bool sendsToken = c.persists && std::strlen(c.given) > 0;
        EXPECT_EQ(sendsToken ? QVariant(QString(c.given)) : QVariant(), asked.value("restore_token"));
        EXPECT_EQ(c.picker, fake.Asked().pickerShown);
        EXPECT_EQ(c.returned, out.stream.restoreToken);
    }
}

// A token is good for one use: once Start answered, its new token is what the game keeps, even
// when the open fails after it (no remote, a PipeWire connection that breaks); when Start never
// answered or refused, there is none and the old one stays good.
TEST(ScreenCastPortalClient, AnOpenThatFailsAfterStartHandsOverStartsToken) {
    const struct {
        const char* what;
        const char* silentAt;
        uint startResponse;
        bool remoteFails;
        const char* failure;  // part of the open's failure
        std::optional<std::string> answered;
    } cases[] = {
        {"no remote", "", 0, true, "OpenPipeWireRemote", "token-b"},
        {"a remote that is no PipeWire", "", 0, false, "PipeWire: ", "token-b"},
        {"Start never answered", "Start", 0, false, "Start: no answer", std::nullopt},
        {"Start refused", "", 2, false, "Start: refused", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Answers setup;
        setup.knownToken = "token-a";
        setup.newToken = "token-b";
        setup.silentAt = c.silentAt;
        setup.remoteFails = c.remoteFails;
        if (c.startResponse != 0) setup.responses.insert("Start", c.startResponse);
        FakeScreenCastPortal fake(setup);
        ASSERT_TRUE(fake.Registered());
        std::string failure;
        std::optional<std::string> answered;
        // Where the request is never answered, the client waits the picker's minutes.
        if (std::strlen(c.silentAt) > 0) {
            portal::ScreenCastPortal portal(kShortTimeoutMs);
            portal::SharedStream stream;
            EXPECT_FALSE(portal.Open("token-a", &stream));
            failure = portal.FailureText();
            answered = portal.AnsweredToken();
        } else {
            EXPECT_EQ(nullptr, pipewire::GameCapturePortal::Open("token-a", &failure, &answered));
        }
        EXPECT_TRUE(Contains(failure, c.failure)) << failure;
        EXPECT_EQ(c.answered, answered);
    }
}

TEST(ScreenCastPortalClient, AFailedAnswerSaysWhichRequestAndWhy) {
    const struct {
        const char* method;
        uint response;
        Failure failure;
    } cases[] = {
        {"CreateSession", 2, Failure::Refused},
        {"SelectSources", 1, Failure::Cancelled},
        {"SelectSources", 2, Failure::Refused},
        {"Start", 1, Failure::Cancelled},
        {"Start", 2, Failure::Refused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " answered " + std::to_string(c.response));
        Answers setup;
        setup.responses.insert(c.method, c.response);
        FakeScreenCastPortal fake(setup);
        const Outcome out = OpenOnce(fake);
        EXPECT_FALSE(out.opened);
        EXPECT_EQ(c.failure, out.failure);
        EXPECT_TRUE(Contains(out.text, c.method)) << out.text;
        // Nothing is asked after a request failed.
        const Seen seen = fake.Asked();
        EXPECT_EQ(c.method, seen.calls.value(seen.calls.size() - 1));
        // A session the portal created is closed with the client, even after a failure.
        if (std::string(c.method) != "CreateSession") {
            EXPECT_TRUE(fake.WaitUntil([&](const Seen& s) { return s.closedSessions.contains(seen.sessionPath); }));
        }
    }
}

TEST(ScreenCastPortalClient, NoPortalOnTheBus) {
    EXPECT_EQ(0u, portal::ScreenCastPortal::Version());
    portal::ScreenCastPortal portal;
    portal::SharedStream stream;
    EXPECT_FALSE(portal.Open("", &stream));
    EXPECT_EQ(Failure::NoPortal, portal.LastFailure());
    EXPECT_FALSE(portal.FailureText().empty());
}

// The answer may come before the method's reply, and portals before 0.9 answered on a request
// path of their own choosing rather than the one the handle token names.
TEST(ScreenCastPortalClient, TakesTheAnswerWhereverAndWheneverItComes) {
    const struct {
        const char* what;
        bool ownPaths, answerFirst;
    } cases[] = {
        {"the predicted path", false, false},
        {"the answer before the reply", false, true},
        {"a path of the portal's own", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Answers setup;
        setup.ownRequestPaths = c.ownPaths;
        setup.answerBeforeReply = c.answerFirst;
        FakeScreenCastPortal fake(setup);
        const Outcome out = OpenOnce(fake);
        ASSERT_TRUE(out.opened) << out.text;
        EXPECT_EQ(42u, out.stream.nodeId);
        const QStringList paths = fake.Asked().requestPaths;
        ASSERT_EQ(3, paths.size());
        for (const QString& path : paths) EXPECT_EQ(c.ownPaths, path.contains("/request/old/")) << path.toStdString();
    }
}

TEST(ScreenCastPortalClient, TheRemoteDescriptorIsOursToKeep) {
    FakeScreenCastPortal fake(Answers{});
    ASSERT_TRUE(fake.Registered());
    int fd = -1;
    {
        portal::ScreenCastPortal portal(kAnswerLimitMs);
        portal::SharedStream stream;
        ASSERT_TRUE(portal.Open("", &stream)) << portal.FailureText();
        fd = stream.pipeWireFd;
    }
    ASSERT_GE(fd, 0);
    // Still open after the reply and the portal object are gone, and not inherited by children.
    EXPECT_NE(0, ::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    ASSERT_EQ(1, ::write(fake.RemoteWriteEnd(), "x", 1));
    char got = 0;
    EXPECT_EQ(1, ::read(fd, &got, 1));
    EXPECT_EQ('x', got);
    ::close(fd);
}

TEST(ScreenCastPortalClient, ARemoteThePortalWillNotOpenIsNoRemote) {
    Answers setup;
    setup.remoteFails = true;
    FakeScreenCastPortal fake(setup);
    const Outcome out = OpenOnce(fake);
    EXPECT_FALSE(out.opened);
    EXPECT_EQ(Failure::NoRemote, out.failure);
    EXPECT_TRUE(Contains(out.text, "OpenPipeWireRemote")) << out.text;
    EXPECT_TRUE(Contains(out.text, "no remote for this session")) << out.text;
}

TEST(ScreenCastPortalClient, TheSessionEndsFromEitherSide) {
    FakeScreenCastPortal fake(Answers{});
    ASSERT_TRUE(fake.Registered());
    QString closedByDesktop;
    {
        portal::ScreenCastPortal portal(kAnswerLimitMs);
        portal::SharedStream stream;
        ASSERT_TRUE(portal.Open("", &stream)) << portal.FailureText();
        ::close(stream.pipeWireFd);
        EXPECT_FALSE(portal.Closed());
        closedByDesktop = fake.Asked().sessionPath;
        fake.CloseSession();
        EXPECT_TRUE(testsupport::WaitFor([&] {
            QCoreApplication::processEvents();
            return portal.Closed();
        }));
    }
    QString closedByUs;
    {
        portal::ScreenCastPortal portal(kAnswerLimitMs);
        portal::SharedStream stream;
        ASSERT_TRUE(portal.Open("", &stream)) << portal.FailureText();
        ::close(stream.pipeWireFd);
        closedByUs = fake.Asked().sessionPath;
        ASSERT_NE(closedByDesktop, closedByUs);
    }
    // The client's messages arrive in order, so a Close of the session the desktop had already
    // ended would be seen before this one.
    ASSERT_TRUE(fake.WaitUntil([&](const Seen& s) { return s.closedSessions.contains(closedByUs); }));
    EXPECT_EQ(QStringList{closedByUs}, fake.Asked().closedSessions);
}

TEST(ScreenCastPortalClient, GivesUpOnAPortalThatNeverAnswersAndWithdrawsTheRequest) {
    for (const char* method : {"CreateSession", "SelectSources", "Start"}) {
        SCOPED_TRACE(method);
        Answers setup;
        setup.silentAt = method;
        FakeScreenCastPortal fake(setup);
        ASSERT_TRUE(fake.Registered());
        portal::ScreenCastPortal portal(kShortTimeoutMs);
        portal::SharedStream stream;
        EXPECT_FALSE(portal.Open("", &stream));
        EXPECT_EQ(Failure::NoPortal, portal.LastFailure());
        EXPECT_EQ(std::string(method) + ": no answer", portal.FailureText());
        // Its picker would otherwise stay on the member's screen.
        const QString unanswered = fake.Asked().requestPaths.value(fake.Asked().requestPaths.size() - 1);
        EXPECT_TRUE(fake.WaitUntil([&](const Seen& s) { return s.closedRequests.contains(unanswered); }))
            << unanswered.toStdString();
        EXPECT_EQ(1, fake.Asked().closedRequests.size());
    }
}

// While the client waits, the program's other events run on its thread; from there the wait is
// withdrawn (the member stopped, the program ends): the request is closed, so the picker leaves,
// Open fails as Cancelled at once, and the session is closed.
TEST(ScreenCastPortalClient, AWithdrawnWaitClosesTheRequestAndEndsAtOnce) {
    for (const char* method : {"CreateSession", "SelectSources", "Start"}) {
        SCOPED_TRACE(method);
        Answers setup;
        setup.silentAt = method;
        FakeScreenCastPortal fake(setup);
        ASSERT_TRUE(fake.Registered());
        portal::ScreenCastPortal portal(kAnswerLimitMs);
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (fake.Asked().calls.contains(method)) portal::ScreenCastPortal::WithdrawWaits();
        });
        watch.start(20);
        QElapsedTimer waited;
        waited.start();
        portal::SharedStream stream;
        EXPECT_FALSE(portal.Open("", &stream));
        EXPECT_LT(waited.elapsed(), kAnswerLimitMs / 2) << "the wait went on after it was withdrawn";
        EXPECT_EQ(Failure::Cancelled, portal.LastFailure()) << portal.FailureText();
        EXPECT_EQ(std::string(method) + ": withdrawn", portal.FailureText());
        const QString unanswered = fake.Asked().requestPaths.value(fake.Asked().requestPaths.size() - 1);
        EXPECT_TRUE(fake.WaitUntil([&](const Seen& s) { return s.closedRequests.contains(unanswered); }))
            << unanswered.toStdString();
        EXPECT_EQ(QStringList{method}, fake.Asked().calls.mid(fake.Asked().calls.indexOf(method)))
            << "asked on after the wait was withdrawn";
    }
}

// The program's broadcast session with the portal's picker up (Start unanswered): the member's
// stop, or the program's end (what the main window does on the tray's 退出 before it goes),
// arrives in the wait. The request is withdrawn, the portal session closed, the start fails
// without a word and no broadcast begins; the session is still whole when the start returns.
TEST(BroadcastWhileThePortalWaits, AStopOrTheEndWithdrawsThePicker) {
    ::setenv("XDG_SESSION_TYPE", "wayland", 1);  // a game without an X11 window goes to the portal
    testsupport::TempDir dir;
    testsupport::ScopedChdir cd(dir.path());
    const struct {
        const char* what;
        std::function<void(CBroadcastSession&)> during;
    } cases[] = {
        {"the stop button", [](CBroadcastSession& s) { s.UserStop(); }},
        {"the program's end", [](CBroadcastSession& s) { s.End(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Answers setup;
        setup.silentAt = "Start";
        setup.knownToken = "token-a";
        FakeScreenCastPortal fake(setup);
        ASSERT_TRUE(fake.Registered());
        MY_DATA_SPACE::CData data;
        data.SetCaptureToken("wlgame", "token-a");
        std::vector<std::string> messages;
        int sendersMade = 0;
        BroadcastServices services;
        services.requestStreamInfo = [&](const std::string&, const std::string&) {
            data.SetPipUrl("rtmp://127.0.0.1:1/live");
            data.SetPipName("k");
            return true;
        };
        services.sendEndNotice = [] {};
        services.resolveStreamUrl = [](const std::string&, std::string&) { return false; };
        services.openCapture = [](const platform::GameSource& game, const std::string&,
                                  std::optional<std::string>* answered) -> std::shared_ptr<platform::IGameCapture> {
            return platform::OpenGameCapture(game, nullptr, answered);
        };
        services.cancelOpen = [] { platform::WithdrawGameCaptureOpens(); };
        services.makeSender = [&](ILiveOwner*, const CStreamSettings*,
                                  std::shared_ptr<platform::IGameCapture>) -> std::unique_ptr<ILiveSender> {
            ++sendersMade;
            return nullptr;
        };
        services.readSettings = [] { return ChosenSettings{}; };
        services.message = [&](const std::string& text) { messages.push_back(text); };
        CBroadcastSession session(data, services, nullptr);

        bool stopped = false;
        QTimer member;
        QObject::connect(&member, &QTimer::timeout, [&] {
            if (!stopped && fake.Asked().calls.contains("Start")) {
                stopped = true;
                c.during(session);
            }
        });
        member.start(20);
        // Should the wait outlive the stop, the member answers the picker in the end.
        QTimer late;
        late.setSingleShot(true);
        QObject::connect(&late, &QTimer::timeout, [&] { fake.AnswerWithheld(); });
        late.start(kAnswerLimitMs);
        QElapsedTimer waited;
        waited.start();
        platform::GameSource game;
        game.pid = 4242;
        EXPECT_EQ(0, session.RequestBroadcast("g", "i", game, "wlgame"));
        EXPECT_TRUE(stopped);
        EXPECT_LT(waited.elapsed(), kAnswerLimitMs) << "the picker's wait went on after the stop";
        EXPECT_TRUE(messages.empty()) << messages.front();
        EXPECT_EQ(0, sendersMade);
        EXPECT_FALSE(session.Opening());
        const Seen seen = fake.Asked();
        const QString picker = seen.requestPaths.value(seen.requestPaths.size() - 1);
        EXPECT_TRUE(fake.WaitUntil([&](const Seen& s) { return s.closedRequests.contains(picker); }))
            << "the picker stayed up";
        EXPECT_TRUE(fake.WaitUntil([&](const Seen& s) { return s.closedSessions.contains(seen.sessionPath); }))
            << "the portal session stayed open";
        // Start never answered: the token given is still good.
        EXPECT_EQ("token-a", data.CaptureToken("wlgame"));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
