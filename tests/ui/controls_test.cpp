// The drawn items and their collections, the picture button and the two combo boxes.

#include <vector>

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>

#include "CBitComboBox.h"
#include "CImageButton.h"
#include "CSkinnedMessageBox.h"
#include "ISSRadioBoxCollectionEvent.h"
#include "ISSTextLinkCollectionEvent.h"
#include "SSPanelCollection.h"
#include "SSRadioBox.h"
#include "SSRadioBoxCollection.h"
#include "SSTextLink.h"
#include "SSTextLinkCollection.h"
#include "SSTextPanel.h"
#include "SkinResources.h"
#include "SkinWidgets.h"
#include "TempDir.h"
#include "XPCDC.h"
#include "XPComboBox.h"

using namespace UA::UI;

namespace {

const QString kRes = QStringLiteral(STRIMO_INSTALL_DIR "/res/");

struct Recorder : ISSRadioBoxCollectionEvent, ISSTextLinkCollectionEvent {
    std::vector<int> chosen;
    std::vector<int> clicked;
    void OnRadioBoxChosen(int id) override { chosen.push_back(id); }
    void OnTextLinkClicked(int id) override { clicked.push_back(id); }
};

class RadioGroup : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            boxes[i].Init(i, QStringLiteral("选项%1").arg(i), RectLTRB(20 + 100 * i, 50, 100 + 100 * i, 65));
            group.Add(&boxes[i]);
        }
        group.SetAppearance(&font, Qt::black, Qt::black, Qt::black, kRes + "RadioBox_UnCheck.bmp",
                            kRes + "RadioBox_UnCheck.bmp", kRes + "RadioBox_Check.bmp");
    }
    std::vector<int> States() const { return {boxes[0].State(), boxes[1].State(), boxes[2].State()}; }
    void Click(int index) {
        const QPoint at = boxes[index].Rect().center();
        group.OnLButtonDown(at);
        group.OnLButtonUp(at);
    }

    QFont font = XPCDC::StandardFont();
    Recorder recorder;
    SSRadioBox boxes[3];
    SSRadioBoxCollection group{nullptr, &recorder};
};

QImage Render(const std::function<void(QPainter&)>& draw, QSize size = QSize(200, 60)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    draw(painter);
    return image;
}

int InkInside(const QImage& image, const QRect& rect) {
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.valid(x, y) && image.pixel(x, y) != qRgb(255, 255, 255)) ++count;
    return count;
}

void Send(QWidget* target, QEvent::Type type, QPoint local, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease || type == QEvent::MouseMove ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(local), QPointF(target->mapToGlobal(local)), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

}  // namespace

TEST_F(RadioGroup, AClickGoesThroughPressedToChosenAndIsReportedOnce) {
    const QPoint at = boxes[1].Rect().center();
    EXPECT_TRUE(group.OnLButtonDown(at));
    EXPECT_EQ(States(), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(recorder.chosen, (std::vector<int>{1}));
    group.OnLButtonUp(at);
    EXPECT_EQ(States(), (std::vector<int>{0, 4, 0}));

    Click(2);
    EXPECT_EQ(States(), (std::vector<int>{0, 0, 4})) << "exactly one box checked";
    EXPECT_EQ(recorder.chosen, (std::vector<int>{1, 2}));
}

TEST_F(RadioGroup, ClickingTheChosenBoxAgainReportsItAgain) {
    Click(0);
    const QPoint at = boxes[0].Rect().center();
    group.OnLButtonDown(at);
    EXPECT_EQ(boxes[0].State(), 1) << "through 0 back to pressed";
    group.OnLButtonUp(at);
    EXPECT_EQ(States(), (std::vector<int>{4, 0, 0}));
    EXPECT_EQ(recorder.chosen, (std::vector<int>{0, 0}));
}

TEST_F(RadioGroup, HoverLightsOnlyUnchosenBoxesAndGoesOutOnTheFace) {
    Click(2);
    EXPECT_TRUE(group.OnMouseMove(boxes[0].Rect().center()));
    EXPECT_EQ(States(), (std::vector<int>{3, 0, 4}));
    group.OnMouseMove(boxes[1].Rect().center());
    EXPECT_EQ(States(), (std::vector<int>{0, 3, 4}));
    group.OnMouseMove(boxes[2].Rect().center());
    EXPECT_EQ(States(), (std::vector<int>{0, 0, 4})) << "the chosen box keeps its look";
    group.OnMouseMove(boxes[1].Rect().center());
    EXPECT_FALSE(group.OnMouseMove(QPoint(5, 5)));
    EXPECT_EQ(States(), (std::vector<int>{0, 0, 4}));
    EXPECT_FALSE(group.OnLButtonDown(QPoint(5, 5)));
    EXPECT_EQ(recorder.chosen, (std::vector<int>{2}));
}

TEST_F(RadioGroup, SelectClicksTheBoxAndOutOfRangeDoesNothing) {
    group.Select(1);
    EXPECT_EQ(States(), (std::vector<int>{0, 4, 0}));
    EXPECT_EQ(recorder.chosen, (std::vector<int>{1}));
    group.Select(3);
    group.Select(-1);
    EXPECT_EQ(recorder.chosen, (std::vector<int>{1}));
}

TEST_F(RadioGroup, MarksFollowTheState) {
    const QImage checked(kRes + "RadioBox_Check.bmp");
    const QImage unchecked(kRes + "RadioBox_UnCheck.bmp");
    ASSERT_EQ(checked.size(), QSize(13, 13));
    ASSERT_NE(checked.pixel(6, 6), unchecked.pixel(6, 6));
    boxes[0].SetRect(RectLTRB(0, 0, 100, 15));
    boxes[0].SetState(4);
    EXPECT_EQ(Render([&](QPainter& p) { boxes[0].Draw(p); }).pixel(6, 6), checked.pixel(6, 6));
    boxes[0].SetState(0);
    const QImage normal = Render([&](QPainter& p) { boxes[0].Draw(p); });
    EXPECT_EQ(normal.pixel(6, 6), unchecked.pixel(6, 6));
    EXPECT_GT(InkInside(normal, QRect(15, 0, 60, 15)), 0) << "the label beside the mark";
    // A missing mark picture leaves the mark out but still writes the label.
    SSRadioBox bare;
    bare.Init(0, QStringLiteral("标签"), RectLTRB(0, 0, 100, 15));
    bare.LoadMarks(QStringLiteral("/nonexistent.bmp"), QString(), QString());
    const QImage drawn = Render([&](QPainter& p) { bare.Draw(p); });
    EXPECT_EQ(InkInside(drawn, QRect(0, 0, 13, 13)), 0);
    EXPECT_GT(InkInside(drawn, QRect(15, 0, 60, 15)), 0);
}

TEST(TextLinks, UnderlineOnHoverReportOnButtonDownAndOneLitAtATime) {
    Recorder recorder;
    QFont font = XPCDC::StandardFont();
    SSTextLink watch, copy;
    watch.Init(2, QStringLiteral("[观看]"), 290, 80, 40, 13, Qt::blue);
    copy.Init(3, QStringLiteral("[复制]"), 330, 80, 40, 13, Qt::blue);
    SSTextLinkCollection links(nullptr, &recorder);
    links.Add(&watch);
    links.Add(&copy);
    links.SetFont(&font, Qt::blue, Qt::blue);

    EXPECT_TRUE(links.OnLButtonDown(QPoint(300, 85)));
    EXPECT_TRUE(recorder.clicked.empty()) << "not lit yet: no report";
    EXPECT_TRUE(links.OnMouseMove(QPoint(300, 85)));
    EXPECT_EQ(watch.State(), 3);
    EXPECT_TRUE(links.OnLButtonDown(QPoint(300, 85)));
    EXPECT_EQ(recorder.clicked, (std::vector<int>{2}));
    links.OnMouseMove(QPoint(335, 85));  // straight onto the neighbour
    EXPECT_EQ(watch.State(), 0);
    EXPECT_EQ(copy.State(), 3);
    EXPECT_FALSE(links.OnMouseMove(QPoint(10, 10)));
    EXPECT_EQ(copy.State(), 0);
    EXPECT_FALSE(links.OnLButtonDown(QPoint(10, 10)));
}

TEST(TextLinks, TheUnderlineIsDrawnOnlyWhenLit) {
    QFont font = XPCDC::StandardFont();
    SSTextLink link;
    link.Init(0, QStringLiteral("查看解决办法"), 10, 10, 100, 13, Qt::blue);
    link.SetFont(&font);
    const int underlineY = 10 + QFontMetrics(font).height();
    const QRect underline(10, underlineY, 60, 1);
    EXPECT_EQ(InkInside(Render([&](QPainter& p) { link.Draw(p); }), underline), 0);
    link.SetState(3);
    EXPECT_GT(InkInside(Render([&](QPainter& p) { link.Draw(p); }), underline), 50);
    link.SetState(4);
    EXPECT_EQ(InkInside(Render([&](QPainter& p) { link.Draw(p); }), QRect(0, 0, 200, 60)), 0) << "not drawn";
}

TEST(TextPanels, TextStaysInsideItsRectangleAndHiddenPanelsDrawNothing) {
    QFont font = XPCDC::StandardFont();
    SSTextPanel panel;
    panel.Init(0, QStringLiteral("一段很长很长的提示文字，它在十三像素高的面板里只能显示第一行，其余的被截去。"),
               RectLTRB(20, 20, 120, 33), QColor(53, 116, 161));
    SSPanelCollection panels;
    panels.Add(&panel);
    panels.SetFont(&font);
    const QImage drawn = Render([&](QPainter& p) { panels.DrawAll(p); });
    EXPECT_GT(InkInside(drawn, panel.Rect()), 0);
    EXPECT_EQ(InkInside(drawn, QRect(0, 33, 200, 27)), 0) << "cut at the bottom of its rectangle";
    EXPECT_EQ(InkInside(drawn, QRect(120, 0, 80, 60)), 0);
    panel.SetStateHover();
    EXPECT_EQ(InkInside(Render([&](QPainter& p) { panels.DrawAll(p); }), QRect(0, 0, 200, 60)), 0);
    panel.Reset();
    EXPECT_GT(InkInside(Render([&](QPainter& p) { panels.DrawAll(p); }), panel.Rect()), 0);
}

TEST(CImageButton, PictureIndexByCountStateAndEnabledState) {
    // count, hover, disabled -> index
    const int table[][4] = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 0, 1, 0}, {2, 0, 0, 0}, {2, 1, 0, 1},
                            {2, 0, 1, 0}, {3, 0, 0, 0}, {3, 1, 0, 1}, {3, 0, 1, 2}, {0, 1, 1, 0}};
    for (const auto& row : table)
        EXPECT_EQ(CImageButton::PictureIndex(row[0], row[1], row[2] != 0), row[3])
            << row[0] << " pictures, state " << row[1] << ", disabled " << row[2];
}

class ImageButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto [name, colour] : {std::pair{"red", Qt::red}, {"green", Qt::green}, {"blue", Qt::blue}}) {
            QImage image(20, 10, QImage::Format_RGB32);
            image.fill(colour);
            image.save(QString::fromStdString(dir / (std::string(name) + ".png")));
        }
        QImage big(40, 30, QImage::Format_RGB32);
        big.fill(Qt::yellow);
        big.save(Path("big"));
        window.resize(200, 200);
        button = new CImageButton(&window);
        button->move(10, 10);
        window.show();
    }
    QString Path(const char* name) const { return QString::fromStdString(dir / (std::string(name) + ".png")); }
    QColor Shown() { return button->grab().toImage().pixelColor(5, 5); }

    testsupport::TempDir dir;
    QWidget window;
    CImageButton* button = nullptr;
};

TEST_F(ImageButtonTest, TwoPicturesLightUpUnderTheMouse) {
    button->LoadPictures(Path("red"), Path("green"));
    EXPECT_EQ(button->PictureCount(), 2);
    EXPECT_EQ(Shown(), QColor(Qt::red));
    Send(button, QEvent::MouseMove, QPoint(3, 3));
    EXPECT_EQ(button->VisualState(), 1);
    EXPECT_EQ(Shown(), QColor(Qt::green));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_EQ(button->VisualState(), 0);
    EXPECT_FALSE(button->IsTracking());
    EXPECT_EQ(Shown(), QColor(Qt::red));
}

TEST_F(ImageButtonTest, ADisabledThreePictureButtonShowsItsThirdPicture) {
    button->LoadPictures(Path("red"), Path("green"), Path("blue"));
    button->setEnabled(false);
    EXPECT_EQ(Shown(), QColor(Qt::blue));
    button->setEnabled(true);
    EXPECT_EQ(Shown(), QColor(Qt::red));
}

TEST_F(ImageButtonTest, MissingPicturesFallBack) {
    button->LoadPictures(Path("red"), Path("missing"), Path("blue"));
    EXPECT_EQ(button->PictureCount(), 2) << "the missing second picture is skipped";
    button->LoadPictures(Path("missing"), Path("green"));
    EXPECT_FALSE(button->IsLoaded());
    EXPECT_EQ(button->PictureCount(), 0);
    EXPECT_EQ(button->CurrentIndex(), -1);
    const QImage frame = button->grab().toImage();  // a plain pushed frame, no picture
    EXPECT_NE(frame.pixelColor(5, 5), QColor(Qt::green));
}

TEST_F(ImageButtonTest, NewPicturesReplaceTheOldAndSetTheSizeAtTheNextPaint) {
    button->resize(65, 22);
    button->LoadPictures(Path("red"), Path("green"));
    button->grab();  // a paint
    EXPECT_EQ(button->size(), QSize(20, 10));
    EXPECT_EQ(button->pos(), QPoint(10, 10)) << "the position is kept";
    button->LoadPictures(Path("big"));
    EXPECT_EQ(button->PictureCount(), 1);
    button->grab();  // a paint
    EXPECT_EQ(button->size(), QSize(40, 30));
    EXPECT_EQ(Shown(), QColor(Qt::yellow));
}

class FlatComboTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(300, 100);
        combo = new UI::Controls::XPComboBox(&window);
        combo->setGeometry(10, 10, 200, 23);
        combo->SetArrowPictures(kRes + "ComboBox_Arrowhead_Normal.bmp", kRes + "ComboBox_Arrowhead_Hover.bmp",
                                kRes + "ComboBox_Arrowhead_Down.bmp", 23, 23, true);
        combo->SetColours(QColor(84, 165, 213), QColor(59, 141, 179), Qt::black, Qt::white, Qt::white,
                          QColor(0, 167, 223));
        combo->SetItemHeight(18);
        combo->addItems({QStringLiteral("一般"), QStringLiteral("较好"), QStringLiteral("好")});
        window.show();
    }
    QWidget window;
    UI::Controls::XPComboBox* combo = nullptr;
};

TEST_F(FlatComboTest, HoverStartsInTheArrowBandAndLastsUntilThePointerLeaves) {
    const QImage normalArrow = combo->CurrentArrow();
    Send(combo, QEvent::MouseMove, QPoint(100, 10));
    EXPECT_FALSE(combo->IsHovered()) << "outside the rightmost 24 pixels";
    Send(combo, QEvent::MouseMove, QPoint(200 - 24, 10));
    EXPECT_TRUE(combo->IsHovered());
    EXPECT_EQ(combo->CurrentFrameColour(), QColor(59, 141, 179));
    EXPECT_NE(combo->CurrentArrow(), normalArrow);
    Send(combo, QEvent::MouseMove, QPoint(20, 10));
    EXPECT_TRUE(combo->IsHovered()) << "kept anywhere inside the control";
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(combo, &leave);
    EXPECT_FALSE(combo->IsHovered());
    EXPECT_EQ(combo->CurrentFrameColour(), QColor(84, 165, 213));
    // The paint shows the state: frame colour on the border, the arrow in the top-right corner.
    const QImage shown = combo->grab().toImage();
    EXPECT_EQ(shown.pixelColor(0, 0), QColor(84, 165, 213));
    EXPECT_EQ(shown.pixel(200 - 23 + 11, 11), normalArrow.pixel(11, 11));
}

TEST_F(FlatComboTest, EditPartIsReadOnlyAndBesideTheArrow) {
    EXPECT_EQ(combo->height(), 23);
    EXPECT_TRUE(combo->lineEdit()->isReadOnly());
    EXPECT_EQ(combo->lineEdit()->geometry(), QRect(1, (23 - 16) / 2, 200 - 23 - 1, 16));
    combo->resize(150, 23);
    EXPECT_EQ(combo->lineEdit()->geometry(), QRect(1, 3, 150 - 23 - 1, 16));
}

TEST_F(FlatComboTest, DroppedListUsesTheDroppedArrowAndItemColours) {
    combo->showPopup();
    EXPECT_TRUE(combo->IsDropped());
    EXPECT_EQ(combo->CurrentFrameColour(), QColor(59, 141, 179));
    combo->hidePopup();
    EXPECT_FALSE(combo->IsDropped());

    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 100, 18);
    option.state = QStyle::State_Selected | QStyle::State_Enabled;
    option.font = combo->font();
    QImage item(100, 18, QImage::Format_RGB32);
    {
        QPainter painter(&item);
        combo->itemDelegate()->paint(&painter, option, combo->model()->index(1, 0));
    }
    EXPECT_EQ(item.pixelColor(95, 1), QColor(0, 167, 223));
    EXPECT_EQ(combo->itemDelegate()->sizeHint(option, combo->model()->index(1, 0)).height(), 18);
    option.state = QStyle::State_Enabled;
    {
        QPainter painter(&item);
        combo->itemDelegate()->paint(&painter, option, combo->model()->index(1, 0));
    }
    EXPECT_EQ(item.pixelColor(95, 1), QColor(Qt::white));
}

TEST(CBitComboBox, StatesFollowTheMouseAndTheArrowShowsThem) {
    QWidget window;
    window.resize(300, 100);
    auto* combo = new CBitComboBox(&window);
    combo->setGeometry(10, 10, 180, 24);
    combo->addItems({QStringLiteral("用户一"), QStringLiteral("用户二")});
    window.show();
    const QImage strip(SkinResources::Path(QStringLiteral("bitmap"), SkinResources::kComboArrows));
    ASSERT_FALSE(strip.isNull());
    const int third = strip.width() / 3;
    const QRect arrow = combo->ArrowRect();
    EXPECT_EQ(arrow, QRect(180 - third - 1, 1, third, 22));
    auto arrowCentre = [&] { return combo->grab().toImage().pixel(arrow.left() + 1, arrow.center().y()); };
    const QRgb normal = arrowCentre();
    Send(combo, QEvent::MouseMove, QPoint(20, 10));
    EXPECT_EQ(combo->VisualState(), 1);
    const QRgb hover = arrowCentre();
    EXPECT_NE(hover, normal);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(combo, &leave);
    EXPECT_EQ(combo->VisualState(), 0);
    EXPECT_EQ(arrowCentre(), normal);
    Send(combo, QEvent::MouseButtonPress, QPoint(20, 10));
    EXPECT_EQ(combo->VisualState(), 2);
    combo->hidePopup();
    Send(combo, QEvent::MouseButtonRelease, QPoint(20, 10));
    EXPECT_EQ(combo->VisualState(), 1);
}

TEST(CBitComboBox, TheListIsWidenedToItsWidestItem) {
    QWidget window;
    window.resize(400, 200);
    auto* combo = new CBitComboBox(&window);
    combo->setGeometry(10, 10, 100, 24);
    const QString wide = QStringLiteral("一个名字特别特别特别长的直播用户");
    combo->addItems({QStringLiteral("短"), wide});
    window.show();
    combo->showPopup();
    const int needed = QFontMetrics(combo->font()).horizontalAdvance(wide) + 4;
    EXPECT_GT(combo->DroppedWidth(), needed);
    EXPECT_GE(combo->view()->window()->width(), combo->DroppedWidth());
    combo->hidePopup();
    combo->clear();
    combo->addItem(QStringLiteral("短"));
    combo->showPopup();
    EXPECT_EQ(combo->DroppedWidth(), 100) << "never narrower than the control";
    combo->hidePopup();
}

TEST(CBitComboBox, ItemsAreWhiteAndTheSelectedOneSitsOnItsPicture) {
    CBitComboBox combo;
    combo.addItems({QStringLiteral("用户一"), QStringLiteral("用户二")});
    combo.SetItemHeight(25);
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 100, 20);
    option.font = combo.font();
    const QModelIndex index = combo.model()->index(0, 0);
    EXPECT_EQ(combo.itemDelegate()->sizeHint(option, index).height(), 25);
    auto paint = [&](QStyle::State state) {
        QImage item(100, 20, QImage::Format_RGB32);
        item.fill(Qt::red);
        QPainter painter(&item);
        option.state = state;
        combo.itemDelegate()->paint(&painter, option, index);
        return item;
    };
    const QImage normal = paint(QStyle::State_Enabled);
    EXPECT_EQ(normal.pixelColor(0, 1), QColor(Qt::white));
    EXPECT_EQ(normal.pixelColor(99, 1), QColor(Qt::white));
    const QImage selected = paint(QStyle::State_Selected | QStyle::State_Enabled);
    EXPECT_EQ(selected.pixelColor(0, 1), QColor(Qt::red)) << "the picture is inset one pixel left";
    EXPECT_EQ(selected.pixelColor(99, 1), QColor(Qt::red)) << "and right";
    EXPECT_NE(selected.pixelColor(50, 1), QColor(Qt::red));
    EXPECT_NE(selected.pixelColor(50, 1), QColor(Qt::white));
}

// The shared message box: OK alone at the right, or OK and Cancel side by side; each button's
// answer to exec() and to Result().
TEST(CSkinnedMessageBox, ButtonsAndAnswersForOneAndTwoButtons) {
    using Buttons = CSkinnedMessageBox::Buttons;
    struct Case {
        Buttons buttons;
        QRect ok;
        bool cancel;
    };
    for (const Case& c : {Case{Buttons::kOk, QRect(220, 161, 65, 22), false},
                          Case{Buttons::kOkCancel, QRect(145, 161, 65, 22), true}}) {
        SCOPED_TRACE(c.cancel ? "OK and Cancel" : "OK alone");
        CSkinnedMessageBox box(1, c.buttons, XPCDC::StandardFont());
        EXPECT_EQ(box.size(), QSize(295, 193));
        EXPECT_EQ(box.OkButton()->geometry(), c.ok);
        ASSERT_EQ(box.CancelButton() != nullptr, c.cancel);
        EXPECT_EQ(box.Result(), 0);
        box.SetText(QStringLiteral("确定要退出吗?"));
        EXPECT_EQ(box.Text(), QStringLiteral("确定要退出吗?"));

        box.show();
        box.OkButton()->click();
        EXPECT_FALSE(box.isVisible());
        EXPECT_EQ(box.result(), 1);
        EXPECT_EQ(box.Result(), 1);
        if (!c.cancel) continue;
        EXPECT_EQ(box.CancelButton()->geometry(), QRect(220, 161, 65, 22));
        box.show();
        box.CancelButton()->click();
        EXPECT_FALSE(box.isVisible());
        EXPECT_EQ(box.result(), 2);
        EXPECT_EQ(box.Result(), 0);
    }
}

// Dialog units for the two template fonts in use (6 x 13 and 6 x 12 pixel characters),
// rounded down as the windows have always placed their controls.
TEST(SkinWidgets, DialogUnitsRoundDownForEachTemplateFont) {
    struct Case {
        QSize cell;
        QRect units;
        QRect pixels;
    };
    for (const Case& c : {Case{QSize(6, 13), QRect(80, 39, 99, 30), QRect(120, 63, 148, 48)},
                          Case{QSize(6, 13), QRect(40, 96, 143, 40), QRect(60, 156, 214, 65)},
                          Case{QSize(6, 12), QRect(48, 134, 108, 16), QRect(72, 201, 162, 24)},
                          Case{QSize(6, 12), QRect(13, 56, 96, 10), QRect(19, 84, 144, 15)}}) {
        EXPECT_EQ(SkinWidgets::FromDialogUnits(c.cell, c.units.x(), c.units.y(), c.units.width(), c.units.height()),
                  c.pixels)
            << c.cell.width() << "x" << c.cell.height();
    }
}

TEST(SkinWidgets, ButtonsAndCombosAreNamedPlacedAndSkinned) {
    QWidget window;
    window.resize(400, 300);
    auto* button = SkinWidgets::MakeButton(&window, 1051, SkinLayout::Slot{10, 20, 60, 36}, kRes + "bg_ok",
                                           QStringLiteral("个人信息"));
    EXPECT_EQ(button->objectName(), QStringLiteral("1051"));
    EXPECT_EQ(button->geometry(), QRect(10, 20, 60, 36));
    EXPECT_EQ(button->PictureCount(), 2) << "normal and select";
    EXPECT_EQ(button->toolTip(), QStringLiteral("个人信息"));
    EXPECT_TRUE(SkinWidgets::MakeButton(&window, 1, QRect(0, 0, 5, 5), kRes + "bg_ok")->toolTip().isEmpty());

    auto* combo =
        SkinWidgets::MakeCombo(&window, 1076, QRect(72, 201, 162, 24), {QStringLiteral("一般"), QStringLiteral("好")});
    EXPECT_EQ(combo->objectName(), QStringLiteral("1076"));
    EXPECT_EQ(combo->geometry(), QRect(72, 201, 162, 23)) << "23 high, the arrow's height";
    EXPECT_TRUE(combo->lineEdit()->isReadOnly());
    EXPECT_EQ(combo->ItemHeight(), 18);
    EXPECT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->CurrentFrameColour(), QColor(84, 165, 213));
    EXPECT_EQ(combo->BackSelected(), QColor(0, 167, 223));
    EXPECT_EQ(SkinWidgets::Q("直播"), QStringLiteral("直播"));
}

TEST(XPCDC, TheStandardFontHasChineseGlyphs) {
    // The set-up installs a CJK font: without one every label of the skin is empty boxes.
    const QFontMetrics metrics(XPCDC::StandardFont());
    for (QChar c : QStringLiteral("直播确定取消")) EXPECT_TRUE(metrics.inFont(c)) << static_cast<int>(c.unicode());
    EXPECT_EQ(XPCDC::StandardFont().pixelSize(), 12);
    const QImage drawn = Render([](QPainter& p) { XPCDC::Text(p, 10, 10, QStringLiteral("直播"), Qt::black); });
    EXPECT_GT(InkInside(drawn, QRect(10, 10, 30, 14)), 10);
    EXPECT_EQ(InkInside(drawn, QRect(0, 0, 200, 9)), 0) << "(x, y) is the top of the text cell";
}

TEST(XPCDC, FramesFillsAndBitmaps) {
    const QImage framed = Render([](QPainter& p) { XPCDC::FrameRect(p, QRect(10, 10, 20, 10), Qt::red); });
    EXPECT_EQ(framed.pixelColor(10, 10), QColor(Qt::red));
    EXPECT_EQ(framed.pixelColor(29, 19), QColor(Qt::red));
    EXPECT_EQ(framed.pixelColor(30, 20), QColor(Qt::white)) << "square corners, one pixel, inside the rectangle";
    EXPECT_EQ(framed.pixelColor(20, 15), QColor(Qt::white)) << "hollow";

    const QImage filled = Render([](QPainter& p) { XPCDC::FilledRect(p, QRect(0, 0, 10, 10), Qt::red, Qt::blue); });
    EXPECT_EQ(filled.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(filled.pixelColor(5, 5), QColor(Qt::blue));

    const QImage gradient = Render([](QPainter& p) { XPCDC::Gradient(p, QRect(0, 0, 100, 10), Qt::black, Qt::white, false); });
    EXPECT_LT(qGray(gradient.pixel(2, 5)), 20);
    EXPECT_GT(qGray(gradient.pixel(97, 5)), 235);

    QImage bitmap(4, 4, QImage::Format_RGB32);
    bitmap.fill(Qt::green);
    bitmap.setPixelColor(0, 0, Qt::magenta);
    const QImage keyed = Render([&](QPainter& p) { XPCDC::TransparentBitmap(p, bitmap, QRect(0, 0, 8, 8), Qt::magenta); });
    EXPECT_EQ(keyed.pixelColor(0, 0), QColor(Qt::white)) << "the key colour is left out";
    EXPECT_EQ(keyed.pixelColor(6, 6), QColor(Qt::green));
    const QImage copied = Render([&](QPainter& p) { XPCDC::CopyBitmap(p, bitmap, QRect(10, 10, 2, 2)); });
    EXPECT_EQ(copied.pixelColor(10, 10), QColor(Qt::magenta));
    EXPECT_EQ(copied.pixelColor(12, 12), QColor(Qt::white)) << "only the rectangle's part, 1:1";

    EXPECT_TRUE(Render([](QPainter& p) {
                    EXPECT_TRUE(XPCDC::ResourceBitmap(p, SkinResources::kComboSelection, QRect(0, 0, 50, 20)));
                    EXPECT_FALSE(XPCDC::ResourceBitmap(p, 4242, QRect(0, 0, 50, 20)));
                }).pixelColor(10, 10) != QColor(Qt::white));
}
