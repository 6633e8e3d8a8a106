// The skinned dialog base: placement, dragging by the face only, the keys that must not close
// a skinned window, and the face paint.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QtTest/qtestspontaneevent.h>

#include "CDlgParent.h"
#include "CImageButton.h"
#include "SSPanelCollection.h"
#include "SSTextPanel.h"
#include "XPCDC.h"

namespace {

const QString kRes = QStringLiteral(STRIMO_INSTALL_DIR "/res/");

// A control that counts the keys it receives.
class KeyProbe : public QWidget {
public:
    using QWidget::QWidget;
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent*) override { ++keys; }
};

// The message boxes and main-menu windows: the shared routine, a face and one text panel.
class SkinnedBox : public CDlgParent {
public:
    SkinnedBox() : CDlgParent(150) {
        SetFixedSizeCentred(295, 193);
        SetFacePath(kRes + "my_message.png");
        panel.Init(0, QStringLiteral("确定要退出吗?"), UA::UI::RectLTRB(20, 80, 295, 93));
        panels.Add(&panel);
        panels.SetFont(&font);
        probe = new KeyProbe(this);
        probe->setGeometry(10, 150, 40, 20);
        button = new CImageButton(this);
        button->setGeometry(220, 161, 65, 22);
        button->LoadPictures(kRes + "bg_ok_normal.png", kRes + "bg_ok_select.png");
    }
    KeyProbe* probe;
    CImageButton* button;

protected:
    bool PreTranslateMessage(QObject* target, QEvent* event) override {
        return PreTranslateSkinnedWindow(target, event);
    }
    void DrawOnFace(QPainter& painter) override { panels.DrawAll(painter); }

private:
    QFont font = XPCDC::StandardFont();
    UA::UI::SSTextPanel panel;
    UA::UI::SSPanelCollection panels;
};

void Mouse(QWidget* target, QEvent::Type type, QPoint global) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    const QPoint local = target->mapFromGlobal(global);
    QMouseEvent event(type, QPointF(local), QPointF(global), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

bool Key(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    return QApplication::sendEvent(target, &event);
}

class DlgParentTest : public ::testing::Test {
protected:
    void SetUp() override {
        CDlgParent::SetDragFullWindows(true);
        box.show();
        QApplication::processEvents();
    }
    void TearDown() override { CDlgParent::SetDragFullWindows(true); }
    SkinnedBox box;
};

}  // namespace

TEST_F(DlgParentTest, FixedSizeAndCentredOnTheScreen) {
    EXPECT_EQ(box.size(), QSize(295, 193));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
    const QRect screen = box.screen()->availableGeometry();
    EXPECT_EQ(box.pos(), QPoint(screen.left() + (screen.width() - 295) / 2, screen.top() + (screen.height() - 193) / 2));
    EXPECT_TRUE(box.windowFlags() & Qt::FramelessWindowHint);
}

TEST_F(DlgParentTest, DraggingTheFaceMovesTheWindowWithThePointer) {
    const QPoint start = box.pos();
    const QPoint grab = box.mapToGlobal(QPoint(100, 10));
    Mouse(&box, QEvent::MouseButtonPress, grab);
    EXPECT_TRUE(box.IsDragging());
    Mouse(&box, QEvent::MouseMove, grab + QPoint(30, 20));
    EXPECT_EQ(box.pos(), start + QPoint(30, 20));
    Mouse(&box, QEvent::MouseMove, grab + QPoint(-5, 40));
    EXPECT_EQ(box.pos(), start + QPoint(-5, 40));
    Mouse(&box, QEvent::MouseButtonRelease, grab + QPoint(-5, 40));
    EXPECT_FALSE(box.IsDragging());
    EXPECT_FALSE(box.IsOutlineShown());
    // The second press of a quick double click comes as a double click: it drags as well.
    const QPoint again = box.pos();
    Mouse(&box, QEvent::MouseButtonDblClick, grab + QPoint(-5, 40));
    EXPECT_TRUE(box.IsDragging());
    Mouse(&box, QEvent::MouseMove, grab + QPoint(5, 45));
    EXPECT_EQ(box.pos(), again + QPoint(10, 5));
    Mouse(&box, QEvent::MouseButtonRelease, grab + QPoint(5, 45));
}

TEST_F(DlgParentTest, OutlineDragMovesTheWindowOnceAtButtonUp) {
    CDlgParent::SetDragFullWindows(false);
    const QPoint start = box.pos();
    const QPoint grab = box.mapToGlobal(QPoint(100, 10));
    Mouse(&box, QEvent::MouseButtonPress, grab);
    Mouse(&box, QEvent::MouseMove, grab + QPoint(50, 30));
    EXPECT_EQ(box.pos(), start) << "only the outline follows";
    EXPECT_TRUE(box.IsOutlineShown());
    EXPECT_EQ(box.OutlineRect(), QRect(start + QPoint(50, 30), QSize(295, 193)));
    Mouse(&box, QEvent::MouseMove, grab + QPoint(60, 35));
    EXPECT_EQ(box.OutlineRect().topLeft(), start + QPoint(60, 35));
    Mouse(&box, QEvent::MouseButtonRelease, grab + QPoint(70, 40));
    EXPECT_FALSE(box.IsOutlineShown());
    EXPECT_EQ(box.pos(), start + QPoint(70, 40));
}

TEST_F(DlgParentTest, AClickOnAControlNeverDragsTheWindow) {
    const QPoint start = box.pos();
    const QPoint grab = box.button->mapToGlobal(QPoint(5, 5));
    Mouse(box.button, QEvent::MouseButtonPress, grab);
    EXPECT_FALSE(box.IsDragging());
    Mouse(box.button, QEvent::MouseMove, grab + QPoint(40, 40));
    Mouse(box.button, QEvent::MouseButtonRelease, grab + QPoint(40, 40));
    EXPECT_EQ(box.pos(), start);
}

TEST_F(DlgParentTest, EscapeReturnAltF4AndF1DoNothing) {
    for (QWidget* target : {static_cast<QWidget*>(&box), static_cast<QWidget*>(box.probe)}) {
        Key(target, Qt::Key_Escape);
        Key(target, Qt::Key_Return);
        Key(target, Qt::Key_Enter);
        Key(target, Qt::Key_F4, Qt::AltModifier);
        Key(target, Qt::Key_F1);
    }
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(box.result(), 0);
    EXPECT_EQ(box.probe->keys, 0) << "swallowed before the control saw them";
    Key(box.probe, Qt::Key_A);
    EXPECT_EQ(box.probe->keys, 1) << "other keys pass";
}

TEST_F(DlgParentTest, TheWindowManagersCloseRequestIsRefused) {
    // A close request from the window manager arrives as a spontaneous close event.
    QCloseEvent fromOutside;
    QSpontaneKeyEvent::setSpontaneous(&fromOutside);
    qApp->notify(&box, &fromOutside);  // sendEvent() would clear the spontaneous mark
    EXPECT_FALSE(fromOutside.isAccepted());
    EXPECT_TRUE(box.isVisible());
    QCloseEvent fromCode;  // the program's own close()
    QApplication::sendEvent(&box, &fromCode);
    EXPECT_TRUE(fromCode.isAccepted());
    EXPECT_FALSE(box.isVisible());
}

TEST_F(DlgParentTest, TheBaseAloneLetsEscapeCloseButNotAltF4) {
    CDlgParent plain(131);
    plain.SetFixedSizeCentred(200, 100);
    plain.show();
    Key(&plain, Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(plain.isVisible());
    Key(&plain, Qt::Key_Escape);
    EXPECT_FALSE(plain.isVisible());
    EXPECT_EQ(plain.result(), QDialog::Rejected);
}

TEST_F(DlgParentTest, TheFaceAndItsTextArePaintedInOneImage) {
    const QImage face(kRes + "my_message.png");
    ASSERT_EQ(face.size(), QSize(295, 193));
    const QImage shown = box.grab().toImage();
    EXPECT_EQ(shown.pixel(150, 5), face.pixel(150, 5)) << "the title band";
    EXPECT_EQ(shown.pixel(150, 120), face.pixel(150, 120));
    int text = 0;
    for (int y = 80; y < 93; ++y)
        for (int x = 20; x < 140; ++x) text += shown.pixel(x, y) != face.pixel(x, y);
    EXPECT_GT(text, 20) << "the panel's text over the face";

    SkinnedBox missing;
    missing.SetFacePath(kRes + "no_such_face.png");
    const QImage bare = missing.grab().toImage();
    EXPECT_EQ(bare.pixelColor(150, 5), QColor(Qt::black)) << "a missing face is not drawn";

    const QImage shared(kRes + "bg.png");
    CDlgParent menu(130);
    menu.SetFixedSizeCentred(640, 484);
    menu.SetSharedFace(&shared);
    EXPECT_EQ(menu.grab().toImage().pixel(300, 10), shared.pixel(300, 10));
}
