#include "CImageButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

CImageButton::CImageButton(QWidget* parent) : QAbstractButton(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);  // the picture is never cleared to grey first
    setFocusPolicy(Qt::NoFocus);
}

void CImageButton::LoadPictures(const QString& first, const QString& second, const QString& third) {
    pictures_.clear();
    loaded_ = 0;
    pictureRect_ = QRect();
    QImage image(first);
    if (image.isNull()) return;
    pictureRect_ = QRect(0, 0, image.width(), image.height());
    // Like an image list of device colours without a mask: every picture is opaque and cut to
    // the size of the first.
    auto add = [this](const QImage& picture) {
        QImage cell(pictureRect_.size(), QImage::Format_RGB32);
        cell.fill(Qt::black);
        QPainter painter(&cell);
        painter.drawImage(0, 0, picture);
        pictures_.push_back(cell);
    };
    add(image);
    loaded_ = 1;
    for (const QString& path : {second, third}) {
        if (path.isEmpty()) continue;
        QImage more(path);
        if (!more.isNull()) add(more);
    }
    update();
}

int CImageButton::PictureIndex(int count, int state, bool disabled) {
    if (state == 1 && count >= 2) return 1;
    if (disabled && count == 3) return 2;
    return 0;
}

QSize CImageButton::sizeHint() const {
    return loaded_ ? pictureRect_.size() : QSize(65, 22);
}

void CImageButton::paintEvent(QPaintEvent*) {
    int count = 0;
    QRect rect = this->rect();
    if (loaded_) {
        count = PictureCount();
        if (size() != pictureRect_.size()) resize(pictureRect_.size());
        rect = pictureRect_;
    }
    QPainter painter(this);
    QStyleOptionButton frame;
    frame.initFrom(this);
    frame.rect = rect;
    frame.state |= QStyle::State_Sunken;
    style()->drawControl(QStyle::CE_PushButtonBevel, &frame, &painter, this);
    if (loaded_) {
        const int index = PictureIndex(count, state_, !isEnabled());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(rect.topLeft(), pictures_[static_cast<std::size_t>(index)]);
    }
}

void CImageButton::mouseMoveEvent(QMouseEvent* event) {
    if (!tracking_) {
        // Hover is reported after 1 ms of rest; at that grain the first move is the hover.
        tracking_ = 1;
        state_ = 1;
        update();
    }
    QAbstractButton::mouseMoveEvent(event);
}

void CImageButton::leaveEvent(QEvent* event) {
    state_ = 0;
    tracking_ = 0;
    update();
    QAbstractButton::leaveEvent(event);
}

void CImageButton::changeEvent(QEvent* event) {
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) update();
}
