#include "SSTextPanel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

namespace UA::UI {

void SSTextPanel::Init(int id, const QString& text, const QRect& rect, const QColor& colour) {
    id_ = id;
    text_ = text;
    rect_ = rect;
    colour_ = colour;
}

void SSTextPanel::Draw(QPainter& painter) {
    if (baseState_ != 0 || rect_.isEmpty()) return;
    painter.save();
    const QFont font = font_ ? *font_ : painter.font();
    painter.setFont(font);
    painter.setPen(colour_);
    painter.setClipRect(rect_, Qt::IntersectClip);

    // Hard line ends and word wrapping as the edit control does it; a partly visible last line
    // is left out.
    const QFontMetrics metrics(font);
    int y = 0;
    const QStringList paragraphs = QString(text_).replace(QLatin1String("\r\n"), QLatin1String("\n")).split(QLatin1Char('\n'));
    for (const QString& paragraph : paragraphs) {
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        int shown = 0;
        bool full = false;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(rect_.width());
            if (y + metrics.height() > rect_.height() && y > 0) {
                full = true;
                break;
            }
            line.setPosition(QPointF(0, y));
            y += metrics.height();
            ++shown;
        }
        layout.endLayout();
        for (int i = 0; i < shown; ++i) layout.lineAt(i).draw(&painter, rect_.topLeft());
        if (full || y >= rect_.height()) break;
    }
    painter.restore();
}

}  // namespace UA::UI
