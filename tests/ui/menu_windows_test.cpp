// The wiring of the broadcaster's secondary windows: message boxes, tab switching, keys that
// must not close, the links of the pages, and the settings pages against the stored records.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include "AppMessageBox.h"
#include "CDlgAbout.h"
#include "CDlgHelp.h"
#include "CDlgInfo.h"
#include "CDlgMessage.h"
#include "CDlgProp.h"
#include "CDlgYN.h"
#include "CFormViewAboutAbout.h"
#include "CFormViewAboutUpdate.h"
#include "CFormViewHelpCenter.h"
#include "CFormViewHelpUpdate.h"
#include "CFormViewInfoInfo.h"
#include "CFormViewPropAudio.h"
#include "CFormViewPropNet.h"
#include "CFormViewPropVideo.h"
#include "CImageButton.h"
#include "FakeMainControl.h"
#include "SSRadioBox.h"
#include "ServicePages.h"
#include "ShellOpen.h"
#include "WindowTestDir.h"
#include "XPComboBox.h"

using MY_DATA_SPACE::AudioRecord;
using MY_DATA_SPACE::VideoRecord;

namespace {

const char* const kLoginUrl = "http://127.0.0.1:18080/index.php?m=member&c=index&a=login";

// Each test runs in its own folder with the stored data of a logged-in user's settings.
class WindowsTest : public testing::Test {
protected:
    void SetUp() override {
        auto& data = main.stored;
        data.SetServerAddress(MY_DATA_SPACE::kLoginUrl, kLoginUrl);
        data.SetServerAddress(MY_DATA_SPACE::kRoomPagePrefix, "http://127.0.0.1:18080/live/room?lid=");
        data.SetServerAddress(MY_DATA_SPACE::kIdlePage, "http://127.0.0.1:18080/live/");
        data.SetServerAddress(MY_DATA_SPACE::kUpdatePage, "http://127.0.0.1:18080/update/");
        data.SetCurrentUser({"玩家一", "p&ss word", true});
        data.SetBitRate(800000);
        data.SetAudio(AudioRecord{22050, 1, 32000, 2, 1});
        data.SetVideo(VideoRecord{1, 15, 1, 0, 75});
        data.SetSaveFile("/home/me/video");
        SetShellOpener([this](const QString& url, bool hidden) { opened.push_back({url, hidden}); });
        SetSkinnedMessageHandler([this](QWidget*, const QString& text) {
            messages.push_back(text);
            return 1;
        });
    }
    void TearDown() override {
        SetShellOpener({});
        SetSkinnedMessageHandler({});
    }

    struct Opened {
        QString url;
        bool hidden;
    };
    WindowTestDir dir;
    FakeMainControl main;
    std::vector<Opened> opened;
    std::vector<QString> messages;
};

void PressKeys(QWidget* target) {
    QTest::keyClick(target, Qt::Key_Escape);
    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);
    QTest::keyClick(target, Qt::Key_F4, Qt::AltModifier);
}

// A user's click on a drawn link: the pointer comes over it first, which lights it up.
void ClickLink(QWidget* page, const QPoint& at) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), page->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(page, &move);
    QTest::mouseClick(page, Qt::LeftButton, {}, at);
}

// Clicks the button `find` picks from the modal box once it runs.
template <typename Box>
void ClickWhenModal(CImageButton* (Box::*find)() const, QString* seenText = nullptr) {
    QTimer::singleShot(0, [find, seenText] {
        auto* box = qobject_cast<Box*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        if (seenText) *seenText = box->Text();
        (box->*find)()->click();
    });
}

}  // namespace

TEST_F(WindowsTest, MessageBoxAnswersOkAndKeysNeverCloseIt) {
    CDlgMessage box;
    EXPECT_EQ(box.size(), QSize(295, 193));
    EXPECT_EQ(box.OkButton()->geometry(), QRect(220, 161, 65, 22));
    box.show();
    PressKeys(&box);
    PressKeys(box.OkButton());
    EXPECT_TRUE(box.isVisible());
    box.hide();

    // The application's routing of its own style to the skinned box.
    SetSkinnedMessageHandler(ShowSkinnedMessage);
    QString seen;
    ClickWhenModal<CDlgMessage>(&CDlgMessage::OkButton, &seen);
    EXPECT_EQ(AppMessageBox(nullptr, QStringLiteral("复制成功")), 1);
    EXPECT_EQ(seen, QStringLiteral("复制成功"));
}

TEST_F(WindowsTest, AMessageLongerThanOneLineIsCutAtThePanelsBottom) {
    CDlgMessage shortBox;
    shortBox.SetText(QStringLiteral("连接服务器失败"));
    CDlgMessage longBox;
    longBox.SetText(QString(40, QChar(0x76F4)));  // "直" forty times: three lines' worth
    const QImage plain = shortBox.grab().toImage();
    const QImage cut = longBox.grab().toImage();
    const QImage face(QStringLiteral("res/my_message.png"));
    ASSERT_EQ(cut.size(), face.size());
    int inked = 0;
    for (int y = 80; y < 93; ++y)
        for (int x = 20; x < 290; ++x) inked += cut.pixel(x, y) != face.pixel(x, y);
    EXPECT_GT(inked, 0) << "the first line is drawn";
    for (int y = 93; y < 160; ++y)
        for (int x = 0; x < 295; ++x)
            ASSERT_EQ(cut.pixel(x, y), plain.pixel(x, y)) << "nothing below the panel at " << x << "," << y;
}

TEST_F(WindowsTest, YesNoBoxAnswers) {
    {
        CDlgYN box;
        box.SetText(QStringLiteral("确定要退出吗?"));
        ClickWhenModal<CDlgYN>(&CDlgYN::OkButton);
        EXPECT_EQ(box.exec(), 1);
        EXPECT_EQ(box.Result(), 1);
    }
    {
        CDlgYN box;
        box.SetText(QStringLiteral("是否要继续直播"));
        ClickWhenModal<CDlgYN>(&CDlgYN::CancelButton);
        EXPECT_EQ(box.exec(), 2);
        EXPECT_EQ(box.Result(), 0);
    }
    CDlgYN box;
    box.show();
    PressKeys(&box);
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(box.CancelButton()->geometry(), QRect(220, 161, 65, 22));
    EXPECT_EQ(box.OkButton()->geometry(), QRect(145, 161, 65, 22));
}

TEST_F(WindowsTest, TabsAskForTheOtherWindowAtThisPlace) {
    CDlgProp prop(&main);
    CDlgHelp help(&main);
    prop.show();
    prop.move(37, 55);  // as after a drag
    help.TabButton(1)->click();
    ASSERT_EQ(main.panels.size(), 1u);
    EXPECT_EQ(main.panels[0].index, 1);
    EXPECT_EQ(main.panels[0].rect, help.geometry());

    prop.TabButton(2)->click();
    ASSERT_EQ(main.panels.size(), 2u);
    EXPECT_EQ(main.panels[1].index, 2);
    EXPECT_EQ(main.panels[1].rect, QRect(37, 55, 640, 484));

    prop.TabButton(1)->click();  // the window's own tab is only a picture
    EXPECT_EQ(main.panels.size(), 2u);
    EXPECT_EQ(prop.TabButton(1)->PictureCount(), 1);
    EXPECT_EQ(prop.TabButton(0)->PictureCount(), 3);

    prop.CloseButton()->click();
    EXPECT_FALSE(prop.isVisible());
    EXPECT_EQ(main.closed, 1);

    // The main window answers the request by showing the help window at that rectangle.
    help.ShowAt(main.panels[1].rect);
    EXPECT_TRUE(help.isVisible());
    EXPECT_EQ(help.geometry(), QRect(37, 55, 640, 484));
    help.hide();
    help.ShowAt(QRect());
    EXPECT_EQ(help.pos(), QPoint(37, 55)) << "an empty rectangle keeps the window's place";
}

TEST_F(WindowsTest, KeysNeverCloseTheMainMenuWindows) {
    CDlgInfo info(&main);
    CDlgProp prop(&main);
    CDlgHelp help(&main);
    CDlgAbout about(&main);
    for (CDlgMainMenu* window : std::vector<CDlgMainMenu*>{&info, &prop, &help, &about}) {
        window->show();
        EXPECT_EQ(window->size(), QSize(640, 484));
        PressKeys(window);
        for (QWidget* child : window->findChildren<QWidget*>()) {
            if (child->isVisible()) PressKeys(child);
        }
        EXPECT_TRUE(window->isVisible()) << window->TemplateId();
        EXPECT_EQ(main.closed, 0) << window->TemplateId();
        window->hide();
    }
}

TEST_F(WindowsTest, SubTabsSwitchPagesAndKeepTheChosenOneLit) {
    CDlgHelp help(&main);
    help.show();
    EXPECT_TRUE(help.UpdatePage()->isVisible());
    EXPECT_FALSE(help.CenterPage()->isVisible());
    EXPECT_FALSE(help.SubTab(CDlgHelp::kUpdatePage)->isEnabled());
    help.SubTab(CDlgHelp::kCenterPage)->click();
    EXPECT_FALSE(help.UpdatePage()->isVisible());
    EXPECT_TRUE(help.CenterPage()->isVisible());
    EXPECT_TRUE(help.SubTab(CDlgHelp::kUpdatePage)->isEnabled());
    EXPECT_FALSE(help.SubTab(CDlgHelp::kCenterPage)->isEnabled());
    EXPECT_EQ(help.SubTab(CDlgHelp::kCenterPage)->CurrentIndex(), 2) << "lit by its select picture";

    CDlgAbout about(&main);
    about.show();
    EXPECT_TRUE(about.AboutPage()->isVisible());
    about.SubTab(CDlgAbout::kUpdatePage)->click();
    EXPECT_TRUE(about.UpdatePage()->isVisible());
    EXPECT_FALSE(about.AboutPage()->isVisible());

    CDlgProp prop(&main);
    prop.show();
    EXPECT_TRUE(prop.NetPage()->isVisible());
    EXPECT_FALSE(prop.SubTab(CDlgProp::kNetPage)->isEnabled());
    prop.SubTab(CDlgProp::kVideoPage)->click();
    EXPECT_TRUE(prop.VideoPage()->isVisible());
    EXPECT_FALSE(prop.NetPage()->isVisible());
    EXPECT_FALSE(prop.SoundPage()->isVisible());
    EXPECT_TRUE(prop.SubTab(CDlgProp::kNetPage)->isEnabled());
    EXPECT_FALSE(prop.SubTab(CDlgProp::kVideoPage)->isEnabled());

    // A page number that is none of the window's: the settings window ignores it; the help and
    // about windows hide both pages and light their first sub-tab.
    prop.ShowPage(7);
    EXPECT_TRUE(prop.VideoPage()->isVisible());
    EXPECT_FALSE(prop.SubTab(CDlgProp::kVideoPage)->isEnabled());
    EXPECT_TRUE(prop.SubTab(CDlgProp::kNetPage)->isEnabled());
    help.ShowPage(7);
    EXPECT_FALSE(help.UpdatePage()->isVisible());
    EXPECT_FALSE(help.CenterPage()->isVisible());
    EXPECT_FALSE(help.SubTab(CDlgHelp::kUpdatePage)->isEnabled());
    EXPECT_TRUE(help.SubTab(CDlgHelp::kCenterPage)->isEnabled());
    about.ShowPage(-1);
    EXPECT_FALSE(about.AboutPage()->isVisible());
    EXPECT_FALSE(about.UpdatePage()->isVisible());
    EXPECT_FALSE(about.SubTab(CDlgAbout::kAboutPage)->isEnabled());
    EXPECT_TRUE(about.SubTab(CDlgAbout::kUpdatePage)->isEnabled());
}

TEST_F(WindowsTest, InfoPageShowsTheUserAndItsLinksOpenTheRightPages) {
    CDlgInfo info(&main);
    main.roomAddress = QStringLiteral("http://127.0.0.1:18080/live/room?lid=42");
    info.show();
    CFormViewInfoInfo* page = info.Page();
    EXPECT_EQ(page->geometry(), QRect(170, 40, 466, 440));
    EXPECT_EQ(page->UserBox()->text(), QStringLiteral("玩家一"));
    EXPECT_TRUE(page->UserBox()->isReadOnly());
    EXPECT_EQ(page->MemberBox()->text(), QStringLiteral("http://127.0.0.1:18080"));
    EXPECT_EQ(page->RoomNameBox()->text(), QStringLiteral("玩家一的直播间"));
    EXPECT_EQ(page->RoomAddressBox()->text(), main.roomAddress);

    // The room line is refreshed at every showing.
    info.hide();
    main.roomAddress = QStringLiteral("http://127.0.0.1:18080/live/");
    info.show();
    EXPECT_EQ(page->RoomAddressBox()->text(), main.roomAddress);

    ClickLink(page, QPoint(60, 15));   // [修改密码]
    ClickLink(page, QPoint(295, 15));  // [看看]
    ClickLink(page, QPoint(295, 85));  // [观看]
    ASSERT_EQ(opened.size(), 3u);
    const auto& stored = main.stored;
    EXPECT_EQ(opened[0].url.toStdString(), MemberCentreUrl(stored.ServerAddresses(), stored.CurrentUser(), 2));
    EXPECT_TRUE(opened[0].url.endsWith(QStringLiteral("&p=2")));
    EXPECT_TRUE(opened[0].hidden);
    EXPECT_EQ(opened[1].url.toStdString(), MemberCentreUrl(stored.ServerAddresses(), stored.CurrentUser(), 1));
    EXPECT_EQ(opened[2].url, main.roomAddress);

    ClickLink(page, QPoint(335, 85));  // [复制]
    EXPECT_EQ(QGuiApplication::clipboard()->text(), main.roomAddress);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QStringLiteral("复制成功"));

    page->OkButton()->click();
    EXPECT_FALSE(info.isVisible());
    EXPECT_EQ(main.closed, 1);
}

TEST_F(WindowsTest, HelpAndAboutLinks) {
    CDlgHelp help(&main);
    help.show();
    ClickLink(help.UpdatePage(), QPoint(125, 155));
    help.ShowPage(CDlgHelp::kCenterPage);
    ClickLink(help.CenterPage(), QPoint(185, 45));
    ClickLink(help.CenterPage(), QPoint(125, 135));
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0].url, QStringLiteral("http://127.0.0.1:18080/update/")) << "the update page's slot";
    EXPECT_FALSE(opened[0].hidden);
    EXPECT_EQ(opened[1].url, QStringLiteral("http://127.0.0.1:18080/forum/"));
    EXPECT_EQ(opened[2].url, QStringLiteral("http://127.0.0.1:18080/forum/"));

    CDlgAbout about(&main);
    about.show();
    ClickLink(about.AboutPage(), QPoint(5, 85));
    ASSERT_EQ(opened.size(), 4u);
    EXPECT_EQ(opened[3].url, QStringLiteral("http://127.0.0.1:18080/"));
    EXPECT_TRUE(about.AboutPage()->Description()->isReadOnly());
    about.UpdatePage()->OkButton()->click();
    EXPECT_FALSE(about.isVisible());
}

TEST_F(WindowsTest, UpgradeInformationComesFromTheCurrentDirectory) {
    testsupport::WriteFile("UpdataInfo.txt", "1.2 版\r\n新的声音来源\r\n");
    CDlgAbout about(&main);
    EXPECT_EQ(about.UpdatePage()->Information()->toPlainText(), QStringLiteral("1.2 版\n新的声音来源\n"));
}

// The main window's part at a broadcast start: copy the stored records, let the settings
// window overwrite what it shows, store the result.
void StoreSettings(const CDlgProp& prop, FakeMemberSettings& data) {
    int bitRate = data.BitRate();
    AudioRecord audio = data.Audio();
    VideoRecord video = data.Video();
    std::string savePath = data.SaveFile();
    prop.GetSettings(bitRate, audio, video, savePath);
    data.SetBitRate(bitRate);
    data.SetAudio(audio);
    data.SetVideo(video);
    data.SetSaveFile(savePath);
}

TEST_F(WindowsTest, SettingsShowTheStoredRecordsAndGiveThemBackUnchanged) {
    CDlgProp prop(&main);
    EXPECT_EQ(prop.NetPage()->Choice(), 2);
    EXPECT_EQ(prop.SoundPage()->Choice(), 2);
    EXPECT_EQ(prop.SoundPage()->Radios().Items()[2]->State(), 4);
    EXPECT_EQ(prop.VideoPage()->QualityBox()->currentIndex(), 1);
    EXPECT_EQ(prop.VideoPage()->SizeBox()->currentText(), QStringLiteral("75%"));
    EXPECT_EQ(prop.VideoPage()->FrameRateBox()->currentText(), QStringLiteral("15(f/s)"));
    EXPECT_TRUE(main.soundChoices.empty()) << "loading does not touch the main window's list";

    const AudioRecord audio = main.stored.Audio();
    const VideoRecord video = main.stored.Video();
    StoreSettings(prop, main.stored);
    EXPECT_EQ(main.stored.BitRate(), 800000);
    EXPECT_EQ(main.stored.Audio(), audio);
    EXPECT_EQ(main.stored.Video(), video);
    EXPECT_EQ(main.stored.SaveFile(), "/home/me/video");
}

TEST_F(WindowsTest, AChoiceSurvivesClosingWithTheCloseButton) {
    CDlgProp prop(&main);
    prop.show();
    QTest::mouseClick(prop.NetPage(), Qt::LeftButton, {}, QPoint(330, 57));  // 1000(kb/s)
    prop.CloseButton()->click();
    EXPECT_FALSE(prop.isVisible());
    StoreSettings(prop, main.stored);
    EXPECT_EQ(main.stored.BitRate(), 1000000);
}

TEST_F(WindowsTest, RecoverRestoresTheValuesOfTheLastStart) {
    CDlgProp prop(&main);
    prop.show();
    prop.VideoPage()->SizeBox()->setCurrentIndex(0);
    StoreSettings(prop, main.stored);  // a broadcast starts at 50 %
    EXPECT_EQ(main.stored.Video().sizePercent, 50);

    prop.VideoPage()->SizeBox()->setCurrentIndex(2);
    prop.VideoPage()->FrameRateBox()->setCurrentIndex(1);
    QTest::mouseClick(prop.NetPage(), Qt::LeftButton, {}, QPoint(30, 57));  // 300(kb/s)
    prop.VideoPage()->RecoverButton()->click();
    prop.NetPage()->RecoverButton()->click();
    EXPECT_EQ(prop.VideoPage()->SizePercent(), 50);
    EXPECT_EQ(prop.VideoPage()->FrameRate(), 15);
    EXPECT_EQ(prop.NetPage()->Rate(), 800000);
    EXPECT_TRUE(prop.isVisible()) << "recover does not close";
}

TEST_F(WindowsTest, SoundChoiceStaysInStepWithTheMainWindow) {
    CDlgProp prop(&main);
    prop.show();
    prop.ShowPage(CDlgProp::kSoundPage);
    QTest::mouseClick(prop.SoundPage(), Qt::LeftButton, {}, QPoint(25, 57));  // 不直播声音
    ASSERT_FALSE(main.soundChoices.empty());
    EXPECT_EQ(main.soundChoices.back(), 0) << "the main list follows at once";
    StoreSettings(prop, main.stored);
    EXPECT_EQ(main.stored.Audio().deviceIndex, 0);
    EXPECT_EQ(main.stored.Audio().enabled, 0);
    EXPECT_EQ(main.stored.Audio().sampleRate, 22050) << "fields the pages do not show pass through";

    // The main window's list chose its second device.
    prop.SelectSoundChoice(AudioRecord{22050, 1, 32000, 2, 1});
    EXPECT_EQ(prop.SoundPage()->Radios().Items()[2]->State(), 4);
    EXPECT_EQ(prop.SoundPage()->Radios().Items()[0]->State(), 0);
    // ... and then a fourth entry the page has no box for.
    prop.SelectSoundChoice(AudioRecord{22050, 1, 32000, 4, 1});
    for (const auto* box : prop.SoundPage()->Radios().Items()) EXPECT_EQ(box->State(), 0);
    StoreSettings(prop, main.stored);
    EXPECT_EQ(main.stored.Audio().deviceIndex, 4);
    EXPECT_EQ(main.stored.Audio().enabled, 1);

    // OK hands the choice to the main list, recover the stored one.
    main.soundChoices.clear();
    prop.SoundPage()->OkButton()->click();
    EXPECT_EQ(main.soundChoices, std::vector<int>{4});
    EXPECT_FALSE(prop.isVisible());
    main.stored.SetAudio(AudioRecord{22050, 1, 32000, 1, 1});
    main.soundChoices.clear();
    prop.SoundPage()->RecoverButton()->click();
    EXPECT_EQ(main.soundChoices, std::vector<int>{1});
    EXPECT_EQ(prop.SoundPage()->Choice(), 1);
}

TEST_F(WindowsTest, StoredValuesOffTheChoicesFallBack) {
    main.stored.SetBitRate(640000);
    main.stored.SetVideo(VideoRecord{1, 12, 7, 3, 60});
    CDlgProp prop(&main);
    EXPECT_EQ(prop.VideoPage()->FrameRateBox()->currentText(), QStringLiteral("8(f/s)"));
    EXPECT_EQ(prop.VideoPage()->QualityBox()->currentIndex(), -1);
    EXPECT_EQ(prop.VideoPage()->SizeBox()->currentText(), QStringLiteral("100%"));
    StoreSettings(prop, main.stored);
    EXPECT_EQ(main.stored.BitRate(), 500000);
    EXPECT_EQ(main.stored.Video(), (VideoRecord{1, 8, -1, 3, 100}));
}

TEST_F(WindowsTest, LocalRecordingControlsAreAlwaysDisabled) {
    CDlgProp prop(&main);
    CFormViewPropVideo* page = prop.VideoPage();
    EXPECT_EQ(page->SavePathBox()->text(), QStringLiteral("/home/me/video"));
    for (const char* id : {"1130", "1074", "1000", "1001"}) {
        auto* control = page->findChild<QWidget*>(QString::fromLatin1(id));
        ASSERT_NE(control, nullptr) << id;
        EXPECT_FALSE(control->isEnabled()) << id;
    }
    EXPECT_EQ(page->Radios().Items()[0]->State(), 4) << "直播游戏视频 is always chosen";
}
