#include "SSRadioBox.h"

#include <QFontMetrics>
#include <QPainter>

namespace UA::UI {

void SSRadioBox::Init(int id, const QString& label, const QRect& rect) {
    id_ = id;
    label_ = label;
    rect_ = rect;
}

void SSRadioBox::SetColours(const QColor& normal, const QColor& hover, const QColor& checked) {
    normalColour_ = normal;
    hoverColour_ = hover;
    checkedColour_ = checked;
}

void SSRadioBox::LoadMarks(const QString& normalPath, const QString& hoverPath, const QString& checkedPath) {
    normalMark_ = QImage(normalPath);
    hoverMark_ = QImage(hoverPath);
    checkedMark_ = QImage(checkedPath);
}

void SSRadioBox::Draw(QPainter& painter) {
    painter.save();
    if (font_) painter.setFont(*font_);
    const QImage* mark = nullptr;
    switch (state_) {
    case 0:
    case 2:
        mark = &normalMark_;
        painter.setPen(normalColour_);
        break;
    case 1:
    case 4:
        mark = &checkedMark_;
        painter.setPen(checkedColour_);
        break;
    case 3:
        mark = &hoverMark_;
        painter.setPen(hoverColour_);
        break;
    default:
        break;  // label only, in whatever colour the painter holds
    }
    if (mark && !mark->isNull())
        painter.drawImage(rect_.topLeft(), *mark, QRect(0, 0, kMarkSize, kMarkSize));
    const QFontMetrics metrics(painter.font());
    painter.drawText(QRect(rect_.left() + kMarkSize + 2, rect_.top(), metrics.horizontalAdvance(label_) + 1,
                           metrics.height()),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, label_);
    painter.restore();
}

}  // namespace UA::UI
