// The game dialog: the order of its checks, and its wiring over a fixed process list and fake
// game windows.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>

#include "AppMessageBox.h"
#include "CGameId.h"
#include "CGameIdCheck.h"
#include "CImageButton.h"
#include "FakeMainControl.h"
#include "FakeWindows.h"
#include "ShellOpen.h"
#include "WindowTestDir.h"
#include "XPComboBox.h"

namespace {

TEST(GameIdCheck, IntroductionThenProcessThenWindow) {
    int selections = 0;
    auto select = [&selections](bool found) {
        return [&selections, found](const std::string&) {
            ++selections;
            return found;
        };
    };
    EXPECT_EQ(CGameIdCheck::Check("", "", select(true)), CGameIdCheck::kNoIntroduction);
    EXPECT_EQ(CGameIdCheck::Check("", "game", select(true)), CGameIdCheck::kNoIntroduction);
    EXPECT_EQ(CGameIdCheck::Check("好玩", "", select(true)), CGameIdCheck::kNoProcess);
    EXPECT_EQ(selections, 0) << "the window is looked for only when both inputs are there";
    EXPECT_EQ(CGameIdCheck::Check("好玩", "game", select(false)), CGameIdCheck::kNoWindow);
    EXPECT_EQ(CGameIdCheck::Check("好玩", "game", select(true)), CGameIdCheck::kConfirmed);
    EXPECT_EQ(selections, 2);

    EXPECT_EQ(CGameIdCheck::MessageFor(CGameIdCheck::kNoIntroduction, ""), "请填写游戏介绍");
    EXPECT_EQ(CGameIdCheck::MessageFor(CGameIdCheck::kNoProcess, ""), "请选择游戏进程");
    EXPECT_EQ(CGameIdCheck::MessageFor(CGameIdCheck::kNoWindow, ""), "获取游戏窗口失败");
    EXPECT_EQ(CGameIdCheck::MessageFor(CGameIdCheck::kConfirmed, ""), "");
}

class GameIdTest : public testing::Test {
protected:
    void SetUp() override {
        main.stored.SetServerAddress(MY_DATA_SPACE::kLoginUrl,
                                     "http://127.0.0.1:18080/index.php?m=member&c=index&a=login");
        SetSkinnedMessageHandler([this](QWidget*, const QString& text) {
            messages.push_back(text);
            return 1;
        });
        SetShellOpener([this](const QString& url, bool) { opened.push_back(url); });
        auto detector = std::make_unique<CGameDetector>(
            [] { return std::vector<proc::ProcessEntry>{{20, "sample-game"}, {21, "daemon"}}; },
            std::make_unique<testsupport::FakeWindows>(
                std::vector<IGameWindows::OwnedWindow>{{0x2000, 20}, {0x2001, 20}}));
        dialog = std::make_unique<CGameId>(&main, std::move(detector));
    }
    void TearDown() override {
        dialog.reset();
        SetSkinnedMessageHandler({});
        SetShellOpener({});
    }
    // The main window hands the game list the service gave at start-up at every refresh; these
    // cases run with an empty one.
    void Refresh() { dialog->RefreshProcesses({}, {}); }

    WindowTestDir dir;
    FakeMainControl main;
    std::vector<QString> messages;
    std::vector<QString> opened;
    std::unique_ptr<CGameId> dialog;
};

TEST_F(GameIdTest, EnterWithNothingAsksForTheIntroductionFirst) {
    Refresh();
    dialog->show();
    EXPECT_EQ(dialog->size(), QSize(332, 359));
    EXPECT_EQ(dialog->ProcessBox()->currentText(), QString());
    EXPECT_EQ(dialog->GameNameBox()->count(), 0);
    QTest::keyClick(dialog->Introduction(), Qt::Key_Return);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QStringLiteral("请填写游戏介绍"));
    EXPECT_TRUE(dialog->isVisible());

    dialog->Introduction()->setPlainText(QStringLiteral("一起来看"));
    dialog->ConfirmButton()->click();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], QStringLiteral("请选择游戏进程"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(main.gamesChosen, 0);

    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible()) << "Escape leaves the dialog open";
}

TEST_F(GameIdTest, AProcessWithoutAWindowKeepsTheDialogOpen) {
    Refresh();
    dialog->show();
    dialog->Introduction()->setPlainText(QStringLiteral("介绍"));
    const int daemon = dialog->ProcessBox()->findText(QStringLiteral("daemon"));
    ASSERT_GE(daemon, 0);
    dialog->ProcessBox()->setCurrentIndex(daemon);
    EXPECT_EQ(dialog->GameNameBox()->currentText(), QStringLiteral("其他"));
    EXPECT_FALSE(dialog->Confirm());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QStringLiteral("获取游戏窗口失败"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(main.gamesChosen, 0);
}

TEST_F(GameIdTest, ConfirmHandsTheChoiceToTheMainWindow) {
    Refresh();
    dialog->show();
    const int game = dialog->ProcessBox()->findText(QStringLiteral("sample-game"));
    ASSERT_GE(game, 0);
    dialog->ProcessBox()->setCurrentIndex(game);
    EXPECT_EQ(dialog->GameNameBox()->count(), 1);
    dialog->Introduction()->setPlainText(QStringLiteral("新手上路"));
    QTest::keyClick(dialog->Introduction(), Qt::Key_Return);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(main.gamesChosen, 1);
    EXPECT_EQ(main.chosenGame, QStringLiteral("其他"));
    EXPECT_EQ(main.chosenIntroduction, QStringLiteral("新手上路"));
    EXPECT_EQ(dialog->GameWindow(), 0x2000u) << "the top window of the process";
    EXPECT_EQ(dialog->ProcessName(), "sample-game");

    // The next refresh starts from empty boxes and an empty introduction again.
    Refresh();
    EXPECT_EQ(dialog->ProcessBox()->currentIndex(), -1);
    EXPECT_EQ(dialog->GameNameBox()->count(), 0);
    EXPECT_EQ(dialog->Introduction()->toPlainText(), QString());
}

TEST_F(GameIdTest, CancelCloseAndContact) {
    Refresh();
    dialog->show();
    dialog->ContactButton()->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QStringLiteral("http://127.0.0.1:18080/"));
    EXPECT_TRUE(dialog->isVisible());
    dialog->CancelButton()->click();
    EXPECT_FALSE(dialog->isVisible());
    dialog->show();
    dialog->CloseButton()->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(main.gamesChosen, 0);
}

}  // namespace
