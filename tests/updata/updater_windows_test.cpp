// The updater's windows, offscreen: the progress window's text and bar as the worker reports,
// the splash window's five seconds, and keys that must close nothing.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>

#include <filesystem>
#include <string>
#include <vector>

#include "CDlgAnimation.h"
#include "CFileCipher.h"
#include "CImageButton.h"
#include "CMyMessage.h"
#include "CUpdataApp.h"
#include "AppMessageBox.h"
#include "CUpdataDlg.h"
#include "TempDir.h"
#include "UpdateHost.h"

using testsupport::TempDir;
using testsupport::UpdateHost;

namespace {

void SendKey(QWidget& w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(&w, &press);
}

// Records what the window shows each time the worker reports.
class RecordingDlg : public CUpdataDlg {
public:
    using CUpdataDlg::CUpdataDlg;
    void SetProgress(int done) override {
        CUpdataDlg::SetProgress(done);
        texts.push_back(StatusText().toStdString());
        widths.push_back(FilledWidth());
    }
    std::vector<std::string> texts;
    std::vector<int> widths;
};

}  // namespace

TEST(UpdaterWindows, ProgressWindowCountsFilesAndEnds) {
    UpdateHost host;
    host.Set("/upd/check.html", "1");
    host.Set("/upd/updata.xml",
             "<updata version=\"10\"><directory/><file><f>a.txt</f><f>b.txt</f><f>c.txt</f></file>"
             "<delete_directory/><delete_file/></updata>");
    for (const char* f : {"a.txt", "b.txt", "c.txt"}) host.Set(std::string("/upd/") + f, f);
    TempDir install;
    TempDir temp;
    ASSERT_TRUE(SaveEncrypted(install / "version.xml",
                              "<version ver=\"7\"><s>" + host.Url() +
                                  "</s><b>/upd</b><c>check.html</c><d>updata.xml</d></version>"));

    UpdaterPaths paths{install.path().string(), install / "version.xml", temp.path().string()};
    RecordingDlg dialog(paths);
    std::string started;
    dialog.startMainProgram = [&started](const std::string& dir) { started = dir; };
    QString endMessage = "not ended";
    QEventLoop loop;
    QObject::connect(&dialog, &CUpdataDlg::finished, [&](const QString& message, bool) {
        endMessage = message;
        loop.quit();
    });
    ASSERT_TRUE(dialog.Initialize(false));
    EXPECT_EQ("正在下载...", dialog.StatusText().toStdString());
    EXPECT_EQ(3, dialog.FilesTotal());
    dialog.show();
    SendKey(dialog, Qt::Key_Escape);
    SendKey(dialog, Qt::Key_Return);
    SendKey(dialog, Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(dialog.isVisible());

    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ("", endMessage.toStdString());
    EXPECT_EQ(install.path().string(), started);
    EXPECT_EQ((std::vector<std::string>{"正在下载(3/0)...", "正在下载(3/1)...", "正在下载(3/2)...", "正在下载(3/3)..."}),
              dialog.texts);
    EXPECT_EQ((std::vector<int>{0, 66, 132, 198}), dialog.widths);
    EXPECT_TRUE(dialog.ProgressVisible());
    EXPECT_FALSE(dialog.isVisible());
}

TEST(UpdaterWindows, StartupFailureShowsItsMessageAndEnds) {
    TempDir install;
    std::vector<QString> shown;
    SetSkinnedMessageHandler([&shown](QWidget*, const QString& text) {
        shown.push_back(text);
        return 1;
    });
    UpdaterPaths paths{install.path().string(), install / "version.xml", install.path().string()};
    CUpdataDlg dialog(paths);
    EXPECT_FALSE(dialog.Initialize(false));
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(QStringLiteral("文件错误"), shown[0]);
    SetSkinnedMessageHandler({});
}

TEST(UpdaterWindows, SplashClosesAfterFiveSecondsAndNotBefore) {
    CDlgAnimation splash;
    QTimer::singleShot(1000, &splash, [&splash] {
        SendKey(splash, Qt::Key_Escape);
        SendKey(splash, Qt::Key_Return);
        SendKey(splash, Qt::Key_F4, Qt::AltModifier);
        splash.close();  // a close request from outside is refused too
    });
    QElapsedTimer clock;
    clock.start();
    splash.exec();
    const qint64 took = clock.elapsed();
    EXPECT_GE(took, 5000);
    EXPECT_LT(took, 5500 + 1000);  // the first half-second check after five seconds, with slack
}

TEST(UpdaterWindows, MessageBoxClosesOnlyWithItsButton) {
    CMyMessage box;
    box.SetMessage(QStringLiteral("连接中断"));
    bool stillOpen = false;
    QTimer::singleShot(100, &box, [&] {
        SendKey(box, Qt::Key_Escape);
        SendKey(box, Qt::Key_Return);
        SendKey(box, Qt::Key_F4, Qt::AltModifier);
        stillOpen = box.isVisible();
        box.OkButton()->click();
    });
    EXPECT_EQ(QDialog::Accepted, box.exec());
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(QStringLiteral("连接中断"), box.Message());
    EXPECT_EQ(QRect(220, 161, 65, 22).topLeft(), box.OkButton()->geometry().topLeft());
}

TEST(UpdaterWindows, SingleInstanceRuleCountsBroadcastersAndUpdaters) {
    using proc::ProcessEntry;
    EXPECT_FALSE(CUpdataApp::AnotherInstanceRuns({{1, "bash"}, {2, "StrimoUpdata"}}));
    EXPECT_TRUE(CUpdataApp::AnotherInstanceRuns({{1, "strimo"}, {2, "StrimoUpdata"}}));
    EXPECT_TRUE(CUpdataApp::AnotherInstanceRuns({{2, "StrimoUpdata"}, {3, "StrimoUpdata"}}));
    EXPECT_FALSE(CUpdataApp::AnotherInstanceRuns({{2, "StrimoUpdata"}, {3, "Strimo"}, {4, "strimo-crypt"}}));
}
