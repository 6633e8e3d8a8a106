// The main control window's own rules, offscreen and without a service or a game: what it does
// with a quit that comes while one of its calls waits in a nested event loop, and the health line.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "CCtrMainDlg.h"
#include "CData.h"
#include "ShellMessages.h"
#include "StreamHealth.h"
#include "TempDir.h"

namespace {

// Where the main window asks the program to end: the login window, which destroys it then.
class QuitReceiver : public QWidget {
public:
    int quits = 0;

protected:
    void customEvent(QEvent* event) override {
        if (event->type() == ShellEventType(WM_APP_QUIT)) ++quits;
    }
};

}  // namespace

// The tray's 退出 can arrive while one of the main window's calls waits in a nested loop: here its
// own question "确定要退出吗?", as it would be the portal's picker or a message box. The window is
// not destroyed under that call: its box is closed, and the quit is asked again once the call
// has returned, when the window may go.
TEST(MainWindowQuit, AQuitWhileACallWaitsComesAgainOnceItReturns) {
    testsupport::TempDir dir;
    testsupport::ScopedChdir cd(dir.path());  // where ending the window writes the member's files
    QuitReceiver login;
    auto main = std::make_unique<CCtrMainDlg>(&login);
    EXPECT_FALSE(main->DeferQuit()) << "at rest the window may go at once";
    bool deferred = false;
    bool closedByTheQuit = false;
    CCtrMainDlg::SetQuestionHandler([&](QWidget* parent, const QString&) {
        QDialog box(parent);
        QTimer::singleShot(0, &box, [&] { deferred = main->DeferQuit(); });
        // A box the quit left up would be answered by the member in the end.
        QTimer::singleShot(5000, &box, [&box] { box.accept(); });
        const int answer = box.exec();
        closedByTheQuit = answer == QDialog::Rejected;
        return answer == QDialog::Accepted;
    });
    main->OnExit();
    CCtrMainDlg::SetQuestionHandler({});
    EXPECT_TRUE(deferred) << "the window would have been destroyed under its own question";
    EXPECT_TRUE(closedByTheQuit) << "the quit waited for the member to answer the box";
    EXPECT_EQ(0, login.quits) << "asked again before the call returned";
    QCoreApplication::sendPostedEvents(&login);
    EXPECT_EQ(1, login.quits);
    EXPECT_FALSE(main->DeferQuit());
    main.reset();
    MY_DATA_SPACE::DestroyData();
}

// While live the window shows the broadcast's figures as the health line, with the queue's mark,
// and takes the line away once there are none; at rest it watches nothing.
TEST(MainWindowHealth, TheLineShowsTheBroadcastsFigures) {
    testsupport::TempDir dir;
    testsupport::ScopedChdir cd(dir.path());
    QuitReceiver login;
    auto main = std::make_unique<CCtrMainDlg>(&login);
    EXPECT_FALSE(main->HealthWatched());
    EXPECT_TRUE(main->HealthText().isEmpty());

    StreamHealth health;
    long long now = 10000;
    health.Begin(now);
    for (int i = 0; i < 30; ++i) {
        now += 100;
        health.Sent(5000, true);
        health.Sample(now, i > 25 ? StreamHealth::kYellowMs : 0, 400000);
    }
    main->RefreshHealth(&health, now);
    EXPECT_EQ(QString::fromStdString(StreamHealth::Text(health.Read(now))), main->HealthText());
    EXPECT_EQ(QStringLiteral("0:00:03  400 kbit/s  发送 30 帧  丢弃 0 帧 (0.0%)"), main->HealthText());
    EXPECT_EQ(StreamHealth::Mark::Yellow, main->HealthMark());
    health.SetReconnecting(true);
    main->RefreshHealth(&health, now);
    EXPECT_TRUE(main->HealthText().startsWith(QStringLiteral("正在重新连接…"))) << main->HealthText().toStdString();
    main->RefreshHealth(nullptr, now);
    EXPECT_TRUE(main->HealthText().isEmpty()) << "the line outlived the broadcast";
    main.reset();
    MY_DATA_SPACE::DestroyData();
}
