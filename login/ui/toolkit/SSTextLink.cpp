#include "SSTextLink.h"

#include <QFontMetrics>
#include <QPainter>

namespace UA::UI {

void SSTextLink::Init(int id, const QString& text, int x, int y, int width, int height, const QColor& colour) {
    id_ = id;
    text_ = text;
    rect_ = QRect(x, y, width, height);
    colour_ = colour;
}

void SSTextLink::Draw(QPainter& painter) {
    if (state_ != 0 && state_ != 3) return;
    painter.save();
    if (font_) painter.setFont(*font_);
    painter.setPen(colour_);
    painter.drawText(rect_, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text_);
    if (state_ == 3) {
        const QFontMetrics metrics(painter.font());
        const int y = rect_.top() + metrics.height();
        painter.setPen(QPen(colour_, 1));
        painter.drawLine(rect_.left(), y, rect_.left() + metrics.horizontalAdvance(text_), y);
    }
    painter.restore();
}

}  // namespace UA::UI
