#include "CDlgParent.h"

#include <atomic>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QScreen>
#include <QWindow>

namespace {
std::atomic<bool> g_dragFullWindows{true};
}

CDlgParent::CDlgParent(int templateId, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), templateId_(templateId) {
    // The face covers the whole client area: never erase it first (no flicker).
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    qApp->installEventFilter(this);
}

CDlgParent::~CDlgParent() {
    qApp->removeEventFilter(this);
}

void CDlgParent::SetFixedSizeCentred(int width, int height) {
    setFixedSize(width, height);
    if (!ProgramPlacesWindows()) return;
    move(0, 0);
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();  // the work area, as centring does
        move(area.left() + (area.width() - width) / 2, area.top() + (area.height() - height) / 2);
    }
}

bool CDlgParent::ProgramPlacesWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void CDlgParent::SetDragFullWindows(bool on) {
    g_dragFullWindows = on;
}

bool CDlgParent::DragFullWindows() {
    return g_dragFullWindows;
}

void CDlgParent::SetFacePath(const QString& path) {
    facePath_ = path;
    sharedFace_ = nullptr;
}

void CDlgParent::SetSharedFace(const QImage* face) {
    sharedFace_ = face;
    facePath_.clear();
}

bool CDlgParent::eventFilter(QObject* watched, QEvent* event) {
    if (watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this)
        return PreTranslateMessage(watched, event);
    return QDialog::eventFilter(watched, event);
}

bool CDlgParent::PreTranslateMessage(QObject* target, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease: {
        if (target != this) break;  // a click on a control never drags the window
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint cursor = mouse->globalPosition().toPoint();
        // The second press of a quick double click comes as a double click: it drags all the same.
        const bool press = event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
        if (press && mouse->button() == Qt::LeftButton) {
            if (StartDesktopMove()) break;
            // The press gives this window the pointer until the release (Qt's implicit grab).
            dragging_ = 1;
            dragStartWindow_ = frameGeometry();
            dragStartCursor_ = cursor;
        } else if (event->type() == QEvent::MouseMove && dragging_) {
            DragMove(cursor);
        } else if (event->type() == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
            DragEnd(cursor);
        }
        break;
    }
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F4 && (key->modifiers() & Qt::AltModifier)) return true;
        if (key->key() == Qt::Key_F1) return true;
        break;
    }
    case QEvent::WhatsThis:
    case QEvent::QueryWhatsThis:
        return target == this;
    default:
        break;
    }
    return false;
}

bool CDlgParent::PreTranslateSkinnedWindow(QObject* target, QEvent* event) {
    if (target == this && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        update();
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    }
    return CDlgParent::PreTranslateMessage(target, event);
}

bool CDlgParent::PreTranslateKeyPresses(QObject* target, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    }
    return CDlgParent::PreTranslateMessage(target, event);
}

// The desktop takes the pointer until the button is released and moves the window; this window
// sees no more of the drag (not even the release).
bool CDlgParent::StartDesktopMove() {
    QWindow* window = windowHandle();
    return window && window->startSystemMove();
}

void CDlgParent::DragMove(const QPoint& cursor) {
    const QRect moved = dragStartWindow_.translated(cursor - dragStartCursor_);
    if (DragFullWindows()) {
        move(moved.topLeft());
        update();
        return;
    }
    if (!tracker_) tracker_ = std::make_unique<QRubberBand>(QRubberBand::Rectangle);
    tracker_->setGeometry(moved);
    tracker_->show();
    lastOutline_ = moved;
    outlineErased_ = 0;
}

void CDlgParent::DragEnd(const QPoint& cursor) {
    if (dragging_ && !DragFullWindows()) {
        if (outlineErased_ == 0 && tracker_) tracker_->hide();
        outlineErased_ = 1;
        move(dragStartWindow_.translated(cursor - dragStartCursor_).topLeft());
    }
    dragging_ = 0;
}

bool CDlgParent::event(QEvent* event) {
    if (event->type() == QEvent::WhatsThis || event->type() == QEvent::QueryWhatsThis) {
        event->accept();
        return true;
    }
    return QDialog::event(event);
}

void CDlgParent::closeEvent(QCloseEvent* event) {
    // A close request from outside (the window manager, Alt+F4 there) is refused; the window's
    // own buttons end it through accept(), reject() or hide().
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CDlgParent::DrawOnFace(QPainter&) {}

void CDlgParent::paintEvent(QPaintEvent*) {
    QImage loaded;
    const QImage* face = sharedFace_;
    if (!face && !facePath_.isEmpty()) {
        loaded = QImage(facePath_);
        face = &loaded;
    }
    PaintFace(*this, face, [this](QPainter& painter) { DrawOnFace(painter); });
}

void CDlgParent::PaintFace(QWidget& target, const QImage* face, const std::function<void(QPainter&)>& drawItems) {
    QImage offscreen(target.size(), QImage::Format_ARGB32_Premultiplied);
    offscreen.fill(Qt::black);  // as a fresh compatible bitmap is
    {
        QPainter painter(&offscreen);
        if (face && !face->isNull()) {
            painter.setCompositionMode(face->hasAlphaChannel() ? QPainter::CompositionMode_SourceOver
                                                               : QPainter::CompositionMode_Source);
            painter.drawImage(0, 0, *face);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
        if (drawItems) drawItems(painter);
    }
    QPainter screen(&target);
    screen.setCompositionMode(QPainter::CompositionMode_Source);
    screen.drawImage(0, 0, offscreen);
}
