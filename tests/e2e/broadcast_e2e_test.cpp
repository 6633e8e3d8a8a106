// The broadcaster end to end: the real login and main control windows, game dialog and settings
// window, driven in-process with QTest against the reference service, nginx, the sample game's
// X11 window and a private PulseAudio. What nginx receives is read back with ffprobe; what the
// service recorded, from its database.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>

#include <array>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <signal.h>

#include "AppMessageBox.h"
#include "CBitComboBox.h"
#include "CCtrMainDlg.h"
#include "CDlgProp.h"
#include "CFormViewPropAudio.h"
#include "CFormViewPropNet.h"
#include "CFormViewPropVideo.h"
#include "CGameId.h"
#include "CImageButton.h"
#include "CMainPanels.h"
#include "CPictureEx.h"
#include "CloginDlg.h"
#include "E2eEnvironment.h"
#include "ShellMessages.h"
#include "WindowListX11.h"
#include "XDisplay.h"
#include "XDisplayRetry.h"
#include "XPComboBox.h"

namespace {

e2e::Environment* env = nullptr;
std::vector<QString> messages;
std::vector<QString> questions;
bool answerYes = true;

constexpr const char* kSampleGame = "STRIMO演示游戏";

// The viewable top-level windows that process `pid` shows on `display` (null: this test's own).
std::vector<x11::WindowListX11::WindowId> VisibleWindowsOf(long pid, Display* display = nullptr) {
    // A connection of its own each time: one kept open would outlive the display of a desktop
    // that ends when its clients have gone, and its loss would end this program.
    x11::DisplayPtr own;
    if (display == nullptr) {
        own = x11::OpenDisplayRetrying();
        display = own.get();
    }
    if (display == nullptr) return {};
    return x11::WindowListX11(display).VisibleWindowsOf(pid, 16);
}

// The process that shows `window` on this test's display, or -1.
long OwnerOf(x11::WindowListX11::WindowId window) {
    const x11::DisplayPtr display = x11::OpenDisplay();
    if (!display) return -1;
    for (const auto& w : x11::WindowListX11(display.get()).TopLevelWindows())
        if (w.window == window) return w.pid;
    return -1;
}

class SampleGame {
public:
    // True once its window is mapped and shows _NET_WM_PID.
    bool Start(int width, int height) {
        process_.start(QString::fromStdString(e2e::Environment::SampleGame()),
                       {QString::number(width), QString::number(height)});
        process_.waitForStarted(10000);
        return QTest::qWaitFor([this] { return !VisibleWindowsOf(Pid()).empty(); }, 20000);
    }
    void Kill() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    bool Running() const { return process_.state() == QProcess::Running; }
    long Pid() const { return static_cast<long>(process_.processId()); }
    ~SampleGame() { Kill(); }

private:
    QProcess process_;
};

// A second copy of the sample game on an X display of its own (another member's session, or
// a second screen that is not this one).
class OtherDisplayGame {
public:
    bool Start(std::string& why) {
        process_.start(QStringLiteral(STRIMO_SOURCE_DIR "/tests/fixtures/with-xvfb.sh"),
                       {QStringLiteral("bash"), QStringLiteral("-c"), QStringLiteral("echo \"$DISPLAY $$\"; exec \"$0\" 320 240"),
                        QString::fromStdString(e2e::Environment::SampleGame())});
        if (!QTest::qWaitFor([this] { return process_.canReadLine(); }, 30000)) {
            why = "its display did not start: " + process_.readAllStandardError().toStdString();
            return false;
        }
        std::istringstream line(process_.readLine().toStdString());
        std::string name;
        line >> name >> pid_;
        display_ = x11::OpenDisplay(name);
        if (!display_ || pid_ <= 0) {
            why = "cannot open its display " + name;
            return false;
        }
        if (!QTest::qWaitFor([this] { return !VisibleWindowsOf(pid_, display_.get()).empty(); }, 20000)) {
            why = "its window was not shown on " + name;
            return false;
        }
        return true;
    }
    long Pid() const { return pid_; }
    ~OtherDisplayGame() {
        display_.reset();
        if (pid_ > 0) ::kill(static_cast<pid_t>(pid_), SIGTERM);  // its display ends with it
        process_.waitForFinished(10000);
    }

private:
    QProcess process_;
    long pid_ = 0;
    x11::DisplayPtr display_;
};

SampleGame* game = nullptr;

// With STRIMO_SCREENSHOT_DIR set, the windows are saved there as they look (scripts/screenshots.sh).
void Screenshot(QWidget& window, const char* name) {
    const QString dir = qEnvironmentVariable("STRIMO_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QTest::qWait(300);
    window.grab().save(dir + QLatin1Char('/') + QLatin1String(name));
}

// The plain text of an enciphered file, through the installation's own tool.
bool LoadEncrypted(const std::string& file, std::string& text) {
    text = e2e::Capture("'" + e2e::Environment::Crypt() + "' decrypt '" + file + "' 2>/dev/null");
    return !text.empty();
}

bool WaitFor(const std::function<bool()>& condition, int ms) { return QTest::qWaitFor(condition, ms); }

bool WaitForMessage(const QString& text, int ms) {
    return WaitFor([&] { return std::find(messages.begin(), messages.end(), text) != messages.end(); }, ms);
}

// nginx's statistics: how many bytes it has received from the publisher of `name` (-1: no
// publisher).
long long NginxBytesIn(const std::string& name) {
    const std::string stat = env->NginxStat();
    const auto at = stat.find("<name>" + name + "</name>");
    if (at == std::string::npos) return -1;
    const auto end = stat.find("</stream>", at);
    const std::string stream = stat.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (stream.find("<publishing/>") == std::string::npos) return -1;
    const auto bytes = stream.find("<bytes_in>");
    return bytes == std::string::npos ? -1 : std::atoll(stream.c_str() + bytes + 10);
}

struct Probe {
    std::string videoCodec, audioCodec;
    int width = 0, height = 0;
    std::string frameRate;
};

// ffprobe plays the live stream from nginx (loopback viewers are allowed). nginx hands a new
// viewer video from the next key frame on, so the probe may have to wait a whole key-frame
// interval.
Probe ProbeLive(const std::string& pipName) {
    const std::string url = "rtmp://127.0.0.1:" + std::to_string(env->RtmpPort()) + "/live/" + pipName;
    Probe p;
    for (int attempt = 0; attempt < 2 && (p.videoCodec.empty() || p.audioCodec.empty()); ++attempt) {
        const std::string out = e2e::Capture("timeout 60 ffprobe -v error -analyzeduration 40M -probesize 100M -show_streams -of default=nw=0 '" + url +
                                             "' 2>&1");
        std::istringstream in(out);
        std::string line;
        std::map<std::string, std::string> stream;
        auto take = [&p, &stream] {
            if (stream["codec_type"] == "video") {
                p.videoCodec = stream["codec_name"];
                p.width = std::atoi(stream["width"].c_str());
                p.height = std::atoi(stream["height"].c_str());
                p.frameRate = stream["r_frame_rate"];
            } else if (stream["codec_type"] == "audio") {
                p.audioCodec = stream["codec_name"];
            }
            stream.clear();
        };
        while (std::getline(in, line)) {
            if (line == "[/STREAM]") take();
            const auto eq = line.find('=');
            if (eq != std::string::npos) stream[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return p;
}

// Mean luma of one picture of the live stream, from its Y plane as coded: black is 16. On a
// Wayland desktop a copy of the screen would be black; the game's own window is not.
double LiveLuma(const std::string& pipName) {
    const std::string url = "rtmp://127.0.0.1:" + std::to_string(env->RtmpPort()) + "/live/" + pipName;
    // Video comes from the next key frame on (see ProbeLive): the stream is analysed long enough.
    const std::string luma = e2e::Capture("timeout 60 ffmpeg -v error -analyzeduration 40M -probesize 100M -i '" + url +
                                          "' -an -frames:v 1 -vf extractplanes=y -f rawvideo -pix_fmt gray - 2>/dev/null");
    if (luma.empty()) return 0;
    double sum = 0;
    for (unsigned char y : luma) sum += y;
    return sum / static_cast<double>(luma.size());
}

class Broadcaster : public ::testing::Test {
protected:
    void SetUp() override {
        messages.clear();
        questions.clear();
        answerYes = true;
        if (!game->Running()) {
            ASSERT_TRUE(game->Start(700, 500)) << "the sample game shows no window";
        }
    }

    // The login window as the program shows it, filled in and confirmed.
    std::unique_ptr<CloginDlg> Login(const QString& user, const QString& password) {
        auto login = std::make_unique<CloginDlg>();
        if (!login->OnInitDialog()) return nullptr;
        login->show();
        login->UserBox()->setEditText(user);
        login->PasswordEdit()->setText(password);
        Screenshot(*login, "login-window.png");
        QTest::mouseClick(login->LoginButton(), Qt::LeftButton);
        if (!login->LoggedIn() && password == QLatin1String("strimo-demo"))
            std::fprintf(stderr, "login refused; the service's log:\n%s\n",
                         e2e::Capture("tail -n 20 '" + env->Data() + "/service.log'").c_str());
        return login;
    }

    // Start → the game dialog, refreshed and shown; null when it does not show.
    CGameId* OpenGameDialog(CCtrMainDlg& main) {
        QTest::mouseClick(main.StartButton(), Qt::LeftButton);
        CGameId& dialog = main.Panels().GameDialog();
        return WaitFor([&] { return dialog.isVisible(); }, 5000) ? &dialog : nullptr;
    }

    // Start → the game (the sample game by default) in the game dialog → an introduction → confirm.
    bool StartBroadcast(CCtrMainDlg& main, const QString& introduction, const char* process = kSampleGame) {
        CGameId* opened = OpenGameDialog(main);
        if (opened == nullptr) return false;
        CGameId& dialog = *opened;
        auto* processes = dialog.ProcessBox();
        const int index = processes->findText(QString::fromUtf8(process));
        if (index < 0) return false;
        processes->setCurrentIndex(index);
        emit processes->activated(index);
        dialog.Introduction()->setPlainText(introduction);
        QTest::mouseClick(dialog.ConfirmButton(), Qt::LeftButton);
        return WaitFor([&] { return main.Broadcasting(); }, 20000);
    }

    void Quit(CloginDlg& login) {
        QCoreApplication::postEvent(&login, new QEvent(ShellEventType(WM_APP_QUIT)));
        WaitFor([&] { return login.result() == QDialog::Accepted && login.MainWindow() == nullptr; }, 15000);
    }
};

}  // namespace

TEST_F(Broadcaster, WrongPasswordIsRefusedAndTheLoginWindowComesBack) {
    auto login = Login("demo", "not-the-password");
    ASSERT_TRUE(login);
    ASSERT_TRUE(WaitForMessage("输入用户或密码出错!", 10000));
    EXPECT_EQ(0, login->LoggedIn());
    EXPECT_TRUE(login->isVisible());
    EXPECT_TRUE(login->isEnabled());
    EXPECT_EQ(nullptr, login->MainWindow());
    Quit(*login);
}

TEST_F(Broadcaster, BroadcastReachesNginxShowsTheRoomAndStopEndsIt) {
    auto login = Login("demo", "strimo-demo");
    ASSERT_TRUE(login);
    ASSERT_EQ(1, login->LoggedIn()) << (messages.empty() ? "" : messages[0].toStdString());
    CCtrMainDlg& main = *login->MainWindow();
    EXPECT_FALSE(login->isVisible());
    ASSERT_TRUE(main.isVisible());
    ASSERT_FALSE(main.AudioSources().empty());
    EXPECT_FALSE(main.AudioSources()[0].has_value());  // "不直播声音" first

    ASSERT_TRUE(StartBroadcast(main, "今晚一起看 & 玩")) << (messages.empty() ? "" : messages[0].toStdString());
    auto& data = MY_DATA_SPACE::GetData();
    const std::string lid = data.Lid();
    EXPECT_TRUE(main.StopButton()->isVisible());
    EXPECT_FALSE(main.StartButton()->isVisible());
    EXPECT_TRUE(main.Animation()->isVisible());
    // The health line: once a second from the running broadcast's own figures.
    ASSERT_TRUE(WaitFor([&] { return main.HealthText().contains(QStringLiteral("kbit/s")); }, 5000))
        << main.HealthText().toStdString();
    EXPECT_TRUE(main.HealthWatched());
    Screenshot(main, "main-window-broadcasting.png");
    // A link slower than the stream: the line's mark says so while the bit rate comes down.
    env->Relay().SetRate(150000);
    const bool marked = WaitFor([&] { return main.HealthMark() != StreamHealth::Mark::Green; }, 60000);
    EXPECT_TRUE(marked) << "a link at a third of the rate left the mark green: " << main.HealthText().toStdString();
    if (marked) Screenshot(main, "main-window-slow-link.png");
    env->Relay().SetRate(0);

    // Panel buttons do nothing while broadcasting.
    QTest::mouseClick(main.findChild<QAbstractButton*>(QString::number(CCtrMainDlg::kPropId)), Qt::LeftButton);
    EXPECT_FALSE(main.Panels().Settings().isVisible());
    EXPECT_TRUE(main.isEnabled());
    // A notification of an earlier broadcast does not end this one.
    QCoreApplication::postEvent(&main, new LiveStopEvent(WM_LIVE_STOP, kLiveStopResized, main.Session().Generation() - 1));
    // Posted events are delivered in order: once this one has run, the notification was handled.
    bool delivered = false;
    QMetaObject::invokeMethod(&main, [&delivered] { delivered = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(WaitFor([&] { return delivered; }, 5000));
    EXPECT_TRUE(main.Broadcasting());
    EXPECT_TRUE(messages.empty());

    const Probe probe = ProbeLive(data.PipName());
    EXPECT_EQ("h264", probe.videoCodec);
    EXPECT_EQ("aac", probe.audioCodec);
    EXPECT_EQ(700, probe.width);  // a 700 x 500 client area at 100 %
    EXPECT_EQ(500, probe.height);
    EXPECT_GT(LiveLuma(data.PipName()), 24.0) << "the broadcast picture is black";

    EXPECT_EQ("live", env->RoomColumn(lid, "state"));
    EXPECT_EQ("今晚一起看 & 玩", env->RoomColumn(lid, "title"));
    EXPECT_EQ(QString::fromStdString(env->ServiceUrl() + "/live/room?lid=" + lid), main.RoomAddress());
    const std::string page = e2e::Capture("curl -s '" + main.RoomAddress().toStdString() + "'");
    EXPECT_NE(std::string::npos, page.find("今晚一起看 &amp; 玩")) << page.substr(0, 2000);

    // Copy link: the address as UTF-8 text.
    QTest::mouseClick(main.findChild<QAbstractButton*>(QString::number(CCtrMainDlg::kCopyLinkId)), Qt::LeftButton);
    EXPECT_TRUE(WaitForMessage("复制成功", 2000));
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    ASSERT_NE(nullptr, clip);
    EXPECT_EQ(main.RoomAddress(), clip->text());
    EXPECT_EQ(main.RoomAddress().toUtf8(), clip->data(QStringLiteral("text/plain;charset=utf-8")));

    QTest::mouseClick(main.StopButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitForMessage("直播停止", 5000));
    EXPECT_FALSE(main.Broadcasting());
    EXPECT_TRUE(main.StartButton()->isVisible());
    EXPECT_EQ("ended", env->RoomColumn(lid, "state"));
    EXPECT_EQ("notice", env->RoomColumn(lid, "end_reason"));
    Quit(*login);
}

TEST_F(Broadcaster, ResizingTheGameEndsTheBroadcastAndContinueKeepsTheStream) {
    auto login = Login("demo", "strimo-demo");
    ASSERT_TRUE(login && login->LoggedIn());
    CCtrMainDlg& main = *login->MainWindow();
    ASSERT_TRUE(StartBroadcast(main, "resize"));
    const std::string lid = MY_DATA_SPACE::GetData().Lid();
    const int rooms = env->RoomCount();
    const auto window = main.Panels().Game().window;
    e2e::Run("xdotool windowsize " + std::to_string(window) + " 720 520");
    ASSERT_TRUE(WaitForMessage("直播中断, 直播中不能改变窗体大小", 15000));
    EXPECT_FALSE(main.Broadcasting());
    EXPECT_EQ(1, main.Session().Interrupted());

    answerYes = true;
    QTest::mouseClick(main.StartButton(), Qt::LeftButton);
    ASSERT_EQ(1u, questions.size());
    EXPECT_EQ("是否要继续直播", questions[0]);
    ASSERT_TRUE(WaitFor([&] { return main.Broadcasting(); }, 10000));
    EXPECT_EQ(lid, MY_DATA_SPACE::GetData().Lid());
    EXPECT_EQ(rooms, env->RoomCount());  // no new stream request
    EXPECT_FALSE(main.Panels().GameDialog().isVisible());
    const Probe probe = ProbeLive(MY_DATA_SPACE::GetData().PipName());
    EXPECT_EQ(720, probe.width);
    EXPECT_EQ(520, probe.height);
    QTest::mouseClick(main.StopButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitForMessage("直播停止", 5000));
    Quit(*login);
    game->Kill();  // the next test starts it at its usual size
}

TEST_F(Broadcaster, SettingsChosenAreUsedByTheNextBroadcastAndKeptInTheConfiguration) {
    auto login = Login("demo", "strimo-demo");
    ASSERT_TRUE(login && login->LoggedIn());
    CCtrMainDlg& main = *login->MainWindow();
    main.ShowPanel(1, QRect());
    CDlgProp& prop = main.Panels().Settings();
    ASSERT_TRUE(prop.isVisible());
    EXPECT_FALSE(main.isEnabled());
    // 1000(kb/s): the fourth radio box of the network page.
    QTest::mouseClick(prop.NetPage(), Qt::LeftButton, {}, QPoint(322, 55));
    EXPECT_EQ(1000000, prop.NetPage()->Rate());
    prop.VideoPage()->SizeBox()->setCurrentIndex(0);       // 50%
    prop.VideoPage()->FrameRateBox()->setCurrentIndex(2);  // 15(f/s)
    // The sound page's choices are what the main window's list records under their labels.
    prop.ShowPage(CDlgProp::kSoundPage);
    QTest::mouseClick(prop.SoundPage(), Qt::LeftButton, {}, QPoint(25, 137));  // 直播麦克风声音
    ASSERT_EQ(2, main.AudioSourceBox()->currentIndex());
    EXPECT_EQ("麦克风", main.AudioSourceBox()->currentText().toStdString());
    EXPECT_EQ(platform::AudioSourceChoice(""), main.AudioSources()[2]);  // the default source alone
    QTest::mouseClick(prop.SoundPage(), Qt::LeftButton, {}, QPoint(25, 97));  // 直播麦克风和电脑声音
    ASSERT_EQ(1, main.AudioSourceBox()->currentIndex());
    EXPECT_EQ("麦克风和电脑声音", main.AudioSourceBox()->currentText().toStdString());
    EXPECT_EQ(platform::AudioSourceChoice::MicrophoneAndComputer(), main.AudioSources()[1]);
    QTest::mouseClick(prop.SoundPage()->OkButton(), Qt::LeftButton);
    EXPECT_FALSE(prop.isVisible());
    EXPECT_TRUE(main.isEnabled());

    ASSERT_TRUE(StartBroadcast(main, "settings"));
    const Probe probe = ProbeLive(MY_DATA_SPACE::GetData().PipName());
    EXPECT_EQ(348, probe.width);  // 700 x 500 at 50 %: 350 and 250 rounded down to multiples of 4
    EXPECT_EQ(248, probe.height);
    EXPECT_EQ("15/1", probe.frameRate);
    QTest::mouseClick(main.StopButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitForMessage("直播停止", 5000));
    Quit(*login);

    std::string config;
    ASSERT_TRUE(LoadEncrypted("config.xml", config));
    const auto person = config.find("<person name=\"demo\"");
    ASSERT_NE(std::string::npos, person) << config;
    const std::string entry = config.substr(person, config.find("</person>", person) - person);
    EXPECT_NE(std::string::npos, entry.find("<size>50</size>")) << entry;
    EXPECT_NE(std::string::npos, entry.find("den=\"15\"")) << entry;
    EXPECT_NE(std::string::npos, entry.find("<speed>1000000</speed>")) << entry;
    EXPECT_NE(std::string::npos, entry.find("<deviceID>1</deviceID>")) << entry;
}

// The member's settings are on disk from the start of a broadcast: a broadcast that ends
// badly (or a program that never reaches its end) keeps them.
void ExpectSettingsOnDisk() {
    std::string config;
    ASSERT_TRUE(LoadEncrypted("config.xml", config));
    EXPECT_NE(std::string::npos, config.find("<person name=\"demo\"")) << config;
    std::string user;
    ASSERT_TRUE(LoadEncrypted("usr.xml", user));
    EXPECT_NE(std::string::npos, user.find("name=\"demo\"")) << user;
}

TEST_F(Broadcaster, LosingTheStreamingServerEndsWithAnInterruption) {
    std::filesystem::remove("usr.xml");
    std::filesystem::remove("config.xml");
    auto login = Login("demo", "strimo-demo");
    ASSERT_TRUE(login && login->LoggedIn());
    CCtrMainDlg& main = *login->MainWindow();
    ASSERT_TRUE(StartBroadcast(main, "network"));
    // The stream is flowing when the server goes.
    ASSERT_TRUE(WaitFor([&] { return NginxBytesIn(MY_DATA_SPACE::GetData().PipName()) > 0; }, 15000));
    env->KillNginx();
    ASSERT_TRUE(WaitForMessage("直播中断", 40000));
    EXPECT_FALSE(main.Broadcasting());
    EXPECT_EQ(1, main.Session().Interrupted());
    ExpectSettingsOnDisk();
    ASSERT_TRUE(env->RestartNginx());
    Quit(*login);
}

TEST_F(Broadcaster, ClosingTheGameEndsTheBroadcastAsAStop) {
    std::filesystem::remove("usr.xml");
    std::filesystem::remove("config.xml");
    auto login = Login("demo", "strimo-demo");
    ASSERT_TRUE(login && login->LoggedIn());
    CCtrMainDlg& main = *login->MainWindow();
    ASSERT_TRUE(StartBroadcast(main, "game closes"));
    const std::string lid = MY_DATA_SPACE::GetData().Lid();
    game->Kill();
    ASSERT_TRUE(WaitForMessage("直播停止", 15000));
    EXPECT_FALSE(main.Broadcasting());
    EXPECT_EQ(2, main.Session().Interrupted());
    EXPECT_EQ("notice", env->RoomColumn(lid, "end_reason"));
    ExpectSettingsOnDisk();
    Quit(*login);
}

// A native Wayland game: the sample game as a Wayland client of a sway desktop (run under
// tests/fixtures/with-sway.sh). It has no X11 window, so the game dialog takes it all the same
// and the desktop's ScreenCast portal shares it (sway shares the whole monitor); its picture
// reaches nginx, and the stop ends the broadcast as usual.
TEST_F(Broadcaster, ANativeWaylandGameIsSharedByTheDesktopsPortal) {
    if (qEnvironmentVariable("XDG_CURRENT_DESKTOP") != QLatin1String("sway"))
        GTEST_SKIP() << "needs the sway desktop of tests/fixtures/with-sway.sh";
    game->Kill();
    QProcess wayland;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    wayland.setProcessEnvironment(environment);
    wayland.start(QString::fromStdString(e2e::Environment::SampleGame()), {QStringLiteral("700"), QStringLiteral("500")});
    ASSERT_TRUE(wayland.waitForStarted(10000));
    const std::string pid = std::to_string(wayland.processId());
    ASSERT_TRUE(WaitFor(
        [&] {
            return !e2e::Capture("swaymsg -t get_tree | jq '.. | objects | select(.pid? == " + pid +
                                 " and .shell? == \"xdg_shell\") | .id'")
                        .empty();
        },
        20000))
        << "sway shows no Wayland window of the sample game";
    EXPECT_TRUE(VisibleWindowsOf(wayland.processId()).empty()) << "the game has an X11 window after all";

    auto login = Login("demo", "strimo-demo");
    ASSERT_TRUE(login && login->LoggedIn());
    CCtrMainDlg& main = *login->MainWindow();
    ASSERT_TRUE(StartBroadcast(main, "Wayland")) << (messages.empty() ? "" : messages[0].toStdString());
    EXPECT_EQ(0u, main.Panels().Game().window);
    const std::string pipName = MY_DATA_SPACE::GetData().PipName();
    const Probe probe = ProbeLive(pipName);
    EXPECT_EQ("h264", probe.videoCodec);
    EXPECT_EQ(1280, probe.width);  // the monitor
    EXPECT_EQ(720, probe.height);
    EXPECT_GT(LiveLuma(pipName), 24.0) << "the broadcast picture is black";

    QTest::mouseClick(main.StopButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitForMessage("直播停止", 5000));
    EXPECT_FALSE(main.Broadcasting());
    wayland.kill();
    wayland.waitForFinished(5000);
    Quit(*login);
}

TEST_F(Broadcaster, QuittingWhileBroadcastingEndsTheBroadcastAndWritesBothFiles) {
    std::filesystem::remove("usr.xml");
    std::filesystem::remove("config.xml");
    auto login = Login("demo", "strimo-demo");
    ASSERT_TRUE(login && login->LoggedIn());
    login->RememberBox()->setChecked(true);  // read at login already: stays as it was
    CCtrMainDlg& main = *login->MainWindow();
    ASSERT_TRUE(StartBroadcast(main, "quit"));
    const std::string lid = MY_DATA_SPACE::GetData().Lid();
    Quit(*login);
    EXPECT_EQ(nullptr, login->MainWindow());
    EXPECT_EQ("ended", env->RoomColumn(lid, "state"));
    EXPECT_EQ("notice", env->RoomColumn(lid, "end_reason"));
    std::string user, config;
    ASSERT_TRUE(LoadEncrypted("usr.xml", user));
    ASSERT_TRUE(LoadEncrypted("config.xml", config));
    EXPECT_NE(std::string::npos, user.find("name=\"demo\"")) << user;
    EXPECT_NE(std::string::npos, config.find("<person name=\"demo\"")) << config;
}

struct Picture {
    int width = 0, height = 0;
    std::string rgb;  // packed RGB rows
};

// The first picture decoded from the live stream (nginx starts a viewer at a key frame, so this
// may take a whole key-frame interval); empty when none came.
Picture LivePicture(const std::string& pipName) {
    const std::string url = "rtmp://127.0.0.1:" + std::to_string(env->RtmpPort()) + "/live/" + pipName;
    const std::string ppm = e2e::Capture("timeout 60 ffmpeg -nostdin -v error -analyzeduration 40M -probesize 100M -i '" +
                                         url + "' -frames:v 1 -f image2pipe -c:v ppm - 2>/dev/null");
    std::istringstream header(ppm);
    std::string magic;
    int maximum = 0;
    Picture picture;
    header >> magic >> picture.width >> picture.height >> maximum;
    if (magic != "P6" || maximum != 255 || !header.get()) return {};
    picture.rgb = ppm.substr(static_cast<std::size_t>(header.tellg()));
    if (picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3) return {};
    return picture;
}

// The mean colour of the 9 x 9 pixels around (x, y) of a packed RGB picture `width` wide.
std::array<int, 3> MeanColour(const std::string& rgb, int width, int x, int y) {
    std::array<int, 3> sum{};
    for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx)
            for (int c = 0; c < 3; ++c)
                sum[c] += static_cast<unsigned char>(rgb[(static_cast<std::size_t>(y + dy) * width + (x + dx)) * 3 + c]);
    for (int& v : sum) v /= 81;
    return sum;
}

TEST_F(Broadcaster, OfTwoCopiesOfTheGameTheOneOnThisDisplayIsBroadcast) {
    std::filesystem::remove("usr.xml");
    std::filesystem::remove("config.xml");
    // Started after this display's copy, the other copy is listed after it under the same name.
    OtherDisplayGame other;
    std::string why;
    ASSERT_TRUE(other.Start(why)) << why;
    auto login = Login("demo", "strimo-demo");
    ASSERT_TRUE(login && login->LoggedIn());
    CCtrMainDlg& main = *login->MainWindow();
    ASSERT_TRUE(StartBroadcast(main, "two copies")) << (messages.empty() ? "" : messages[0].toStdString());
    EXPECT_EQ(game->Pid(), OwnerOf(main.Panels().Game().window));
    const Probe probe = ProbeLive(MY_DATA_SPACE::GetData().PipName());
    EXPECT_EQ("h264", probe.videoCodec);
    EXPECT_EQ(700, probe.width);
    EXPECT_EQ(500, probe.height);
    QTest::mouseClick(main.StopButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitForMessage("直播停止", 5000));
    Quit(*login);
}

// A Windows game run by Debian's Wine: the dialog offers it by its Windows name, and not Wine's
// own processes; choosing it finds its window, whose picture reaches nginx.
TEST_F(Broadcaster, AWindowsGameUnderWineGoesByItsWindowsNameAndIsBroadcast) {
    const std::string testGame = STRIMO_WINE_TEST_GAME;
    if (testGame.empty()) GTEST_SKIP() << "x86_64-w64-mingw32-gcc (Debian gcc-mingw-w64-x86-64-win32) was missing "
                                          "when the build was configured, so TestGame.exe was not built";
    const char* wine = std::getenv("STRIMO_WINE");
    ASSERT_TRUE(wine != nullptr && *wine != '\0') << "Wine's loader was not found: run under tests/fixtures/with-wine.sh "
                                                     "with Debian's wine64 installed";
    game->Kill();  // nothing else on the screen
    std::filesystem::remove("usr.xml");
    std::filesystem::remove("config.xml");

    QElapsedTimer clock;
    clock.start();
    QProcess windowsGame;
    windowsGame.start(QString::fromUtf8(wine), {QString::fromStdString(testGame)});
    ASSERT_TRUE(windowsGame.waitForStarted(10000));
    const long pid = static_cast<long>(windowsGame.processId());
    (void)QTest::qWaitFor([&] { return !VisibleWindowsOf(pid).empty() || windowsGame.state() != QProcess::Running; }, 120000);
    ASSERT_FALSE(VisibleWindowsOf(pid).empty())
        << "TestGame.exe showed no window: " << windowsGame.readAllStandardError().toStdString();
    std::fprintf(stderr, "wine: TestGame.exe showed its window %lld ms after its start\n",
                 static_cast<long long>(clock.elapsed()));
    const auto window = VisibleWindowsOf(pid).front();

    auto login = Login("demo", "strimo-demo");
    ASSERT_TRUE(login && login->LoggedIn());
    CCtrMainDlg& main = *login->MainWindow();
    CGameId* dialog = OpenGameDialog(main);
    ASSERT_NE(nullptr, dialog);
    std::vector<std::string> offered;
    for (int i = 0; i < dialog->ProcessBox()->count(); ++i) offered.push_back(dialog->ProcessBox()->itemText(i).toStdString());
    const auto isOffered = [&](const std::string& name) {
        return std::find(offered.begin(), offered.end(), name) != offered.end();
    };
    EXPECT_TRUE(isOffered("testgame.exe"));
    for (const char* wineOwn : {"services.exe", "explorer.exe", "winedevice.exe", "svchost.exe", "plugplay.exe",
                                "rpcss.exe", "wineboot.exe", "start.exe", "wineserver", "wineserver64", "wine",
                                "wine64", "wine-preloader", "wine64-preloader"})
        EXPECT_FALSE(isOffered(wineOwn)) << wineOwn;
    for (const auto& name : offered) EXPECT_FALSE(name.starts_with("memfd:")) << name;
    dialog->hide();

    ASSERT_TRUE(StartBroadcast(main, "Wine", "testgame.exe")) << (messages.empty() ? "" : messages[0].toStdString());
    EXPECT_EQ(window, main.Panels().Game().window);
    EXPECT_EQ(pid, OwnerOf(main.Panels().Game().window));
    const Picture picture = LivePicture(MY_DATA_SPACE::GetData().PipName());
    ASSERT_EQ(400, picture.width);  // the program's client area
    ASSERT_EQ(300, picture.height);
    const struct {
        int x, y;
        std::array<int, 3> rgb;
    } quarters[] = {{100, 75, {255, 0, 0}}, {300, 75, {0, 255, 0}}, {100, 225, {0, 0, 255}}, {300, 225, {255, 255, 255}}};
    for (const auto& q : quarters) {
        const auto seen = MeanColour(picture.rgb, picture.width, q.x, q.y);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(q.rgb[c], seen[c], 40) << "at " << q.x << "," << q.y << " channel " << c;
    }
    QTest::mouseClick(main.StopButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitForMessage("直播停止", 5000));
    Quit(*login);
    windowsGame.kill();
    windowsGame.waitForFinished(10000);
    std::fprintf(stderr, "wine: the Windows game case took %lld ms\n", static_cast<long long>(clock.elapsed()));
}

// A link that stops for 5 s is ridden out on the same connection. A cut connection is
// reopened once. A cut when the server cannot be reached any more ends, after the one
// reconnection attempt, with "直播中断"; "continue" then resumes the same stream on nginx.
TEST_F(Broadcaster, ABadNetworkIsRiddenOutOrEndsWithAnInterruptionThatContinues) {
    auto login = Login("demo", "strimo-demo");
    ASSERT_TRUE(login && login->LoggedIn());
    CCtrMainDlg& main = *login->MainWindow();
    FaultRelay& relay = env->Relay();
    relay.Clear();
    const int accepted = relay.Accepted();
    ASSERT_TRUE(StartBroadcast(main, "bad network"));
    const std::string name = MY_DATA_SPACE::GetData().PipName();
    const std::string lid = MY_DATA_SPACE::GetData().Lid();
    ASSERT_TRUE(WaitFor([&] { return NginxBytesIn(name) > 20000; }, 15000));
    EXPECT_EQ(accepted + 1, relay.Accepted());

    relay.SetForwarding(false);
    const long long stalled = NginxBytesIn(name);
    QTest::qWait(5000);  // the length of the outage
    EXPECT_LT(NginxBytesIn(name), stalled + 40000) << "nothing should pass a stopped link";
    relay.SetForwarding(true);
    ASSERT_TRUE(WaitFor([&] { return NginxBytesIn(name) > stalled + 100000; }, 20000));
    EXPECT_TRUE(main.Broadcasting());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(accepted + 1, relay.Accepted()) << "a 5 s stall must not cost the connection";

    relay.CutConnections();
    ASSERT_TRUE(WaitFor([&] { return relay.Accepted() == accepted + 2 && NginxBytesIn(name) > 20000; }, 20000));
    EXPECT_TRUE(main.Broadcasting());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ("live", env->RoomColumn(lid, "state"));

    const int refused = relay.Refused();
    relay.SetRefuse(true);
    relay.CutConnections();
    ASSERT_TRUE(WaitForMessage("直播中断", 30000));
    EXPECT_EQ(refused + 1, relay.Refused()) << "one reconnection attempt";
    EXPECT_EQ(accepted + 2, relay.Accepted());
    EXPECT_FALSE(main.Broadcasting());
    EXPECT_EQ(1, main.Session().Interrupted());

    relay.SetRefuse(false);
    answerYes = true;
    QTest::mouseClick(main.StartButton(), Qt::LeftButton);
    ASSERT_EQ(1u, questions.size());
    EXPECT_EQ("是否要继续直播", questions[0]);
    ASSERT_TRUE(WaitFor([&] { return main.Broadcasting(); }, 15000));
    EXPECT_EQ(name, MY_DATA_SPACE::GetData().PipName());
    ASSERT_TRUE(WaitFor([&] { return NginxBytesIn(name) > 50000; }, 20000)) << env->NginxStat();
    EXPECT_EQ(accepted + 3, relay.Accepted());
    EXPECT_EQ("live", env->RoomColumn(lid, "state"));
    QTest::mouseClick(main.StopButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitForMessage("直播停止", 5000));
    EXPECT_EQ("ended", env->RoomColumn(lid, "state"));
    Quit(*login);
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    // Messages and questions are answered here instead of waiting for a click.
    SetSkinnedMessageHandler([](QWidget*, const QString& text) {
        messages.push_back(text);
        return 1;
    });
    CCtrMainDlg::SetQuestionHandler([](QWidget*, const QString& question) {
        questions.push_back(question);
        return answerYes;
    });
    e2e::Environment environment;
    std::string why;
    if (!environment.Start(why)) {
        std::fprintf(stderr, "e2e: the servers did not start: %s\n", why.c_str());
        return 1;
    }
    env = &environment;
    testsupport::ScopedChdir cd(environment.Installation());
    SampleGame sample;
    game = &sample;
    const int result = RUN_ALL_TESTS();
    // A test that failed half-way may leave the data object alive: it goes while Qt still runs.
    MY_DATA_SPACE::DestroyData();
    game = nullptr;
    env = nullptr;
    return result;
}
