// A sample skinned window with every control of the toolkit, shown on a real X server (Xvfb) and
// read back from the screen, which must show the face where the window is. With
// $STRIMO_SKIN_SAMPLE set the picture is saved there (scripts/screenshots.sh).


#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include "CBitComboBox.h"
#include "CDlgParent.h"
#include "CImageButton.h"
#include "CPictureEx.h"
#include "ISSRadioBoxCollectionEvent.h"
#include "ISSTextLinkCollectionEvent.h"
#include "SSPanelCollection.h"
#include "SSRadioBox.h"
#include "SSRadioBoxCollection.h"
#include "SSTextLink.h"
#include "SSTextLinkCollection.h"
#include "SSTextPanel.h"
#include "XPCDC.h"
#include "XPComboBox.h"

using namespace UA::UI;

namespace {

const QString kRes = QStringLiteral(STRIMO_INSTALL_DIR "/res/");

// A page as the settings window holds them: face, radio group, panels, links and window controls.
class SamplePage : public QWidget, public ISSRadioBoxCollectionEvent, public ISSTextLinkCollectionEvent {
public:
    explicit SamplePage(QWidget* parent) : QWidget(parent) {
        setGeometry(170, 40, 466, 440);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
        const char* labels[] = {"300(kb/s)", "500(kb/s)", "800(kb/s)", "1000(kb/s)"};
        for (int i = 0; i < 4; ++i) {
            rates_[i].Init(i, QString::fromUtf8(labels[i]), RectLTRB(20 + 100 * i, 50, 100 + 100 * i, 65));
            radios_.Add(&rates_[i]);
        }
        radios_.SetAppearance(&font_, Qt::black, Qt::black, Qt::black, kRes + "RadioBox_UnCheck.bmp",
                              kRes + "RadioBox_UnCheck.bmp", kRes + "RadioBox_Check.bmp");
        radios_.Select(1);
        heading_.Init(0, QStringLiteral("上传速度"), RectLTRB(0, 20, 100, 40), QColor(53, 116, 161));
        hint_.Init(1, QStringLiteral("网速慢的用户可选择缩小画面"), RectLTRB(245, 245, 445, 258));
        panels_.Add(&heading_);
        panels_.Add(&hint_);
        panels_.SetFont(&font_);
        help_.Init(0, QStringLiteral("查看解决办法"), 20, 300, 100, 13, Qt::blue);
        forum_.Init(1, QStringLiteral("去论坛发帖"), 130, 300, 100, 13, Qt::blue);
        links_.Add(&help_);
        links_.Add(&forum_);
        links_.SetFont(&font_);
        links_.OnMouseMove(QPoint(25, 305));  // shown lit, as under the pointer

        const char* items[3][3] = {{"一般", "较好", "好"}, {"50%", "75%", "100%"}, {"8(f/s)", "10(f/s)", "15(f/s)"}};
        for (int i = 0; i < 3; ++i) {
            auto* combo = new UI::Controls::XPComboBox(this);
            combo->setGeometry(72, 110 + 35 * i, 162, 23);
            combo->SetArrowPictures(kRes + "ComboBox_Arrowhead_Normal.bmp", kRes + "ComboBox_Arrowhead_Hover.bmp",
                                    kRes + "ComboBox_Arrowhead_Down.bmp", 23, 23, true);
            combo->SetColours(QColor(84, 165, 213), QColor(59, 141, 179), Qt::black, Qt::white, Qt::white,
                              QColor(0, 167, 223));
            combo->SetItemHeight(18);
            for (const char* item : items[i]) combo->addItem(QString::fromUtf8(item));
            combo->setCurrentIndex(i == 0 ? 1 : 2);
        }
        users_ = new CBitComboBox(this);
        users_->setGeometry(260, 110, 180, 24);
        users_->addItems({QStringLiteral("直播达人"), QStringLiteral("游戏玩家")});
        animation_ = new CPictureEx(this);
        animation_->move(260, 160);
        animation_->Load(QStringLiteral("155"), QStringLiteral("gif"));
        animation_->Draw();
        auto* ok = new CImageButton(this);
        ok->setGeometry(391, 408, 65, 22);
        ok->LoadPictures(kRes + "bg_ok_normal.png", kRes + "bg_ok_select.png");
        auto* recover = new CImageButton(this);
        recover->setGeometry(50, 408, 127, 22);
        recover->LoadPictures(kRes + "prop/prop_btn_recover_normal.png", kRes + "prop/prop_btn_recover_select.png");
    }
    ~SamplePage() override { animation_->UnLoad(); }

    void OnRadioBoxChosen(int) override {}
    void OnTextLinkClicked(int) override {}
    CPictureEx* Animation() const { return animation_; }

protected:
    void paintEvent(QPaintEvent*) override {
        const QImage face(kRes + "prop/prop_formview_net.png");
        CDlgParent::PaintFace(*this, &face, [this](QPainter& painter) {
            panels_.DrawAll(painter);
            radios_.DrawAll(painter);
            links_.DrawAll(painter);
        });
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!radios_.OnMouseMove(event->position().toPoint())) links_.OnMouseMove(event->position().toPoint());
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (!radios_.OnLButtonDown(event->position().toPoint())) links_.OnLButtonDown(event->position().toPoint());
    }
    void mouseReleaseEvent(QMouseEvent* event) override { radios_.OnLButtonUp(event->position().toPoint()); }

private:
    QFont font_ = XPCDC::StandardFont();
    SSRadioBox rates_[4];
    SSRadioBoxCollection radios_{this, this};
    SSTextPanel heading_, hint_;
    SSPanelCollection panels_;
    SSTextLink help_, forum_;
    SSTextLinkCollection links_{this, this};
    CBitComboBox* users_;
    CPictureEx* animation_;
};

class SampleWindow : public CDlgParent {
public:
    SampleWindow() : CDlgParent(131) {
        SetFixedSizeCentred(640, 484);
        face_ = QImage(kRes + "bg.png");
        SetSharedFace(&face_);
        auto add = [this](int y, const QString& a, const QString& b = QString(), const QString& c = QString()) {
            auto* button = new CImageButton(this);
            button->setGeometry(5, y, 127, 27);
            button->LoadPictures(kRes + a, b.isEmpty() ? b : kRes + b, c.isEmpty() ? c : kRes + c);
            return button;
        };
        add(203, "bg_info_normal.png", "bg_info_hover.png", "bg_info_select.png");
        add(231, "bg_prop_select.png");
        add(259, "prop/prop_btn_net_normal.png", "prop/prop_btn_net_select.png", "prop/prop_btn_net_select.png")
            ->setEnabled(false);  // the page on view: its sub-tab stays lit
        add(280, "prop/prop_btn_audio_normal.png", "prop/prop_btn_audio_select.png", "prop/prop_btn_audio_select.png");
        add(301, "prop/prop_btn_video_normal.png", "prop/prop_btn_video_select.png", "prop/prop_btn_video_select.png");
        add(322, "bg_help_normal.png", "bg_help_hover.png", "bg_help_select.png");
        add(350, "bg_about_normal.png", "bg_about_hover.png", "bg_about_select.png");
        auto* close = new CImageButton(this);
        close->setGeometry(609, 10, 18, 16);
        close->LoadPictures(kRes + "bg_close_normal.png", kRes + "bg_close_select.png");
        page = new SamplePage(this);
    }
    SamplePage* page;

protected:
    bool PreTranslateMessage(QObject* target, QEvent* event) override {
        return PreTranslateSkinnedWindow(target, event);
    }

private:
    QImage face_;
};

}  // namespace

TEST(SkinSample, EveryControlOnAScreenshot) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under Xvfb";
    SampleWindow window;
    window.show();
    const QImage face(kRes + "bg.png");
    const QImage ok(kRes + "bg_ok_normal.png");
    const QImage lit(kRes + "prop/prop_btn_net_select.png");
    const auto colour = [](const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; };
    QImage shot;
    // Mapped and painted: the title band, the OK button and the lit sub-tab are on the screen.
    const bool painted = QTest::qWaitFor(
        [&] {
            shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(window.frameGeometry());
            return shot.size() == QSize(640, 484) && colour(shot, 300, 10) == colour(face, 300, 10) &&
                   colour(shot, 170 + 391 + 10, 40 + 408 + 11) == colour(ok, 10, 11) &&
                   colour(shot, 5 + 60, 259 + 10) == colour(lit, 60, 10);
        },
        5000);
    EXPECT_TRUE(painted);
    EXPECT_TRUE(window.page->Animation()->IsPlaying());
    ASSERT_EQ(shot.size(), QSize(640, 484));
    const QString path = qEnvironmentVariable("STRIMO_SKIN_SAMPLE");
    if (!path.isEmpty()) {
        ASSERT_TRUE(shot.save(path)) << path.toStdString();
        std::printf("screenshot: %s\n", qPrintable(path));
    }

    EXPECT_EQ(colour(shot, 300, 10), colour(face, 300, 10)) << "the title band is on the screen";
    EXPECT_EQ(colour(shot, 170 + 391 + 10, 40 + 408 + 11), colour(ok, 10, 11)) << "the OK button";
    EXPECT_EQ(colour(shot, 5 + 60, 259 + 10), colour(lit, 60, 10)) << "the disabled sub-tab stays lit";
}
