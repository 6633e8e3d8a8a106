// The broadcaster's secondary windows on a real X server (Xvfb), read back from the screen:
// the game dialog, the three settings pages, the information, help and about windows. Each
// must be the size of its face and show it where the window is: the face's pixels fill the
// window but for the controls on it. With $STRIMO_SCREENSHOT_DIR set the pictures are saved
// there (scripts/screenshots.sh makes the ones in docs/ so).
#include <memory>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>

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

// The share of a grid of points (every 4th pixel each way) at which `shot` holds `face`'s colour.
double FaceShare(const QImage& shot, const QImage& face) {
    if (shot.size() != face.size()) return 0;
    int same = 0, all = 0;
    for (int y = 0; y < face.height(); y += 4)
        for (int x = 0; x < face.width(); x += 4, ++all)
            same += (shot.pixel(x, y) & 0xFFFFFF) == (face.pixel(x, y) & 0xFFFFFF);
    return static_cast<double>(same) / all;
}

class Screenshots : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under Xvfb";
        outDir = qEnvironmentVariable("STRIMO_SCREENSHOT_DIR");
        if (!outDir.isEmpty()) QDir().mkpath(outDir);
        auto& data = main.stored;
        data.SetServerAddress(MY_DATA_SPACE::kLoginUrl, "http://127.0.0.1:18080/index.php?m=member&c=index&a=login");
        data.SetCurrentUser({"demo", "demo-password", true});
        data.SetBitRate(800000);
        data.SetAudio(MY_DATA_SPACE::AudioRecord{22050, 1, 32000, 1, 1});
        data.SetVideo(MY_DATA_SPACE::VideoRecord{1, 10, 1, 0, 75});
        main.roomAddress = QStringLiteral("http://127.0.0.1:18080/live/");
    }

    // Shows `window` and reads it back from the screen once its face is there: the window is
    // the face's size, the face's own pixels make up most of it (the controls cover the rest:
    // between 10 and 13 % on these windows), and the one at `probe` (the title band) is the
    // face's. The picture goes to $STRIMO_SCREENSHOT_DIR as `name`.
    void Shoot(QWidget& window, const QString& name, const QString& facePath, const QPoint& probe) {
        constexpr double share = 0.8;
        const QImage face(facePath);
        ASSERT_FALSE(face.isNull()) << facePath.toStdString();
        window.show();
        window.raise();
        EXPECT_EQ(window.size(), face.size()) << name.toStdString();
        QImage shot;
        const auto grab = [&] {
            shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(window.frameGeometry());
            return FaceShare(shot, face) >= share;
        };
        const bool shown = QTest::qWaitFor(grab, 5000);
        EXPECT_TRUE(shown) << name.toStdString() << ": " << FaceShare(shot, face) << " of the window is its face";
        ASSERT_EQ(shot.size(), face.size()) << name.toStdString();
        EXPECT_EQ(shot.pixel(probe) & 0xFFFFFF, face.pixel(probe) & 0xFFFFFF) << name.toStdString();
        if (!outDir.isEmpty()) {
            // For the picture, the controls too: taken once two readings in a row agree.
            QImage before;
            (void)QTest::qWaitFor(
                [&] {
                    before = shot;
                    grab();
                    return shot == before;
                },
                2000);
            const QString path = outDir + QLatin1Char('/') + name;
            ASSERT_TRUE(shot.save(path)) << path.toStdString();
            std::printf("screenshot: %s\n", qPrintable(path));
        }
        window.hide();
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
    dialog.RefreshProcesses({}, {});
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
