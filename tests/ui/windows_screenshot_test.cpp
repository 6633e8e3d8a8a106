// The broadcaster's secondary windows on a real X server (Xvfb), photographed from the screen:
// the game dialog, the three settings pages, the information, help and about windows. The
// pictures go to $STRIMO_SCREENSHOT_DIR (the project keeps them in docs/), else beside the
// test program. Each must show the window's face where the window is.
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScreen>

#include "CData.h"
#include "CDlgAbout.h"
#include "CDlgHelp.h"
#include "CDlgInfo.h"
#include "CDlgProp.h"
#include "CGameId.h"
#include "FakeMainControl.h"
#include "FakeWindows.h"
#include "WindowTestDir.h"
#include "XPComboBox.h"

namespace {

void Pump(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class Screenshots : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under Xvfb";
        const QByteArray target = qgetenv("STRIMO_SCREENSHOT_DIR");
        outDir = target.isEmpty() ? QCoreApplication::applicationDirPath() : QString::fromLocal8Bit(target);
        QDir().mkpath(outDir);
        MY_DATA_SPACE::DestroyData();
        auto& data = MY_DATA_SPACE::GetData();
        data.SetServerAddress(MY_DATA_SPACE::kLoginUrl, "http://127.0.0.1:18080/index.php?m=member&c=index&a=login");
        data.SetCurrentUser({"demo", "demo-password", true});
        data.SetBitRate(800000);
        data.SetAudio(MY_DATA_SPACE::AudioRecord{22050, 1, 32000, 1, 1});
        data.SetVideo(MY_DATA_SPACE::VideoRecord{1, 10, 1, 0, 75});
        main.roomAddress = QStringLiteral("http://127.0.0.1:18080/live/");
    }
    void TearDown() override { MY_DATA_SPACE::DestroyData(); }

    // Shows `window`, lets it paint, saves the screen under it as `name` and checks that the
    // pixel at `probe` is the face's.
    void Shoot(QWidget& window, const QString& name, const QString& face, const QPoint& probe) {
        window.show();
        window.raise();
        Pump(400);
        const QRect where = window.frameGeometry();
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(where);
        ASSERT_EQ(shot.size(), window.size()) << name.toStdString();
        const QString path = outDir + QLatin1Char('/') + name;
        ASSERT_TRUE(shot.save(path)) << path.toStdString();
        std::printf("screenshot: %s\n", qPrintable(path));
        const QImage picture(face);
        ASSERT_FALSE(picture.isNull()) << face.toStdString();
        EXPECT_EQ(shot.pixel(probe) & 0xFFFFFF, picture.pixel(probe) & 0xFFFFFF) << name.toStdString();
        window.hide();
        Pump(50);
    }

    WindowTestDir dir;
    FakeMainControl main;
    QString outDir;
};

TEST_F(Screenshots, GameDialog) {
    auto detector = std::make_unique<CGameDetector>(
        [] {
            return std::vector<proc::ProcessEntry>{{20, "sample-game"}, {21, "supertuxkart"}, {22, "xterm"}};
        },
        std::make_unique<testsupport::FakeWindows>());
    CGameId dialog(&main, std::move(detector));
    dialog.RefreshProcesses();
    dialog.ProcessBox()->setCurrentIndex(dialog.ProcessBox()->findText(QStringLiteral("sample-game")));
    dialog.Introduction()->setPlainText(QStringLiteral("新手上路，一起来看！"));
    Shoot(dialog, QStringLiteral("game-dialog.png"), QStringLiteral("res/gameid.png"), QPoint(160, 10));
}

TEST_F(Screenshots, SettingsPages) {
    CDlgProp prop(&main);
    const QPoint title(300, 10);
    Shoot(prop, QStringLiteral("settings-net.png"), QStringLiteral("res/bg.png"), title);
    prop.ShowPage(CDlgProp::kSoundPage);
    Shoot(prop, QStringLiteral("settings-sound.png"), QStringLiteral("res/bg.png"), title);
    prop.ShowPage(CDlgProp::kVideoPage);
    Shoot(prop, QStringLiteral("settings-video.png"), QStringLiteral("res/bg.png"), title);
}

TEST_F(Screenshots, InfoHelpAbout) {
    const QPoint title(300, 10);
    CDlgInfo info(&main);
    Shoot(info, QStringLiteral("info.png"), QStringLiteral("res/bg.png"), title);
    CDlgHelp help(&main);
    Shoot(help, QStringLiteral("help.png"), QStringLiteral("res/bg.png"), title);
    CDlgAbout about(&main);
    Shoot(about, QStringLiteral("about.png"), QStringLiteral("res/bg.png"), title);
}

}  // namespace
