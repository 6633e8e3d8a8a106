#include "CDlgAnimation.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimerEvent>

#include "CDlgParent.h"
#include "CPictureEx.h"

CDlgAnimation::CDlgAnimation(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog), picture_(new CPictureEx(this)) {
    setFixedSize(500, 370);
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && CDlgParent::ProgramPlacesWindows()) move(screen->geometry().center() - rect().center());
    setWindowTitle(QStringLiteral("STRIMO直播"));

    // A missing picture leaves an empty window for the same five seconds.
    if (picture_->Load(QStringLiteral("res/updata.gif"))) {
        picture_->setGeometry(QRect(QPoint(0, 0), picture_->GetSize()));
        if (picture_->IsGIF()) {
            picture_->show();
            picture_->Draw();
        }
    }
    started_.start();
    timer_ = startTimer(kCheckMs);
}

CDlgAnimation::~CDlgAnimation() { picture_->Stop(); }

void CDlgAnimation::timerEvent(QTimerEvent*) {
    if (started_.elapsed() > kDurationMs) {
        finishing_ = true;
        killTimer(timer_);
        accept();
    }
}

bool CDlgAnimation::event(QEvent* event) {
    // F1 asks for help: answered, with nothing to show.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) return true;
    return QDialog::event(event);
}

void CDlgAnimation::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F4:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CDlgAnimation::closeEvent(QCloseEvent* event) {
    // Alt+F4 reaches a frameless window as a close request from the window manager.
    if (finishing_) {
        QDialog::closeEvent(event);
    } else {
        event->ignore();
    }
}
