#include "XPCDC.h"

#include <QBitmap>
#include <QFontMetrics>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

#include "SkinResources.h"

QFont XPCDC::StandardFont(int pixelHeight, int weight) {
    QFont font(QStringLiteral("新宋体"));
    font.setPixelSize(pixelHeight);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void XPCDC::CopyBitmap(QPainter& painter, const QImage& bitmap, const QRect& rect) {
    if (bitmap.isNull()) return;
    painter.drawImage(rect.topLeft(), bitmap, QRect(0, 0, rect.width(), rect.height()));
}

void XPCDC::StretchBitmap(QPainter& painter, const QImage& bitmap, const QRect& rect) {
    if (bitmap.isNull()) return;
    painter.drawImage(rect, bitmap);
}

void XPCDC::TransparentBitmap(QPainter& painter, const QImage& bitmap, const QRect& rect, const QColor& transparent) {
    if (bitmap.isNull()) return;
    QPixmap pixmap = QPixmap::fromImage(bitmap);
    pixmap.setMask(pixmap.createMaskFromColor(transparent, Qt::MaskInColor));
    painter.drawPixmap(rect, pixmap);
}

bool XPCDC::ResourceBitmap(QPainter& painter, int id, const QRect& rect) {
    const QImage bitmap(SkinResources::Path(QStringLiteral("bitmap"), id));
    if (bitmap.isNull()) return false;
    CopyBitmap(painter, bitmap, rect);
    return true;
}

bool XPCDC::IconFromFile(QPainter& painter, const QString& path, const QRect& rect) {
    const QIcon icon(path);
    const QPixmap pixmap = icon.pixmap(rect.size());
    if (pixmap.isNull()) return false;
    painter.drawPixmap(rect, pixmap);
    return true;
}

void XPCDC::FrameRect(QPainter& painter, const QRect& rect, const QColor& colour) {
    painter.save();
    painter.setPen(QPen(colour, 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    painter.restore();
}

void XPCDC::FilledRect(QPainter& painter, const QRect& rect, const QColor& pen, const QColor& brush) {
    painter.fillRect(rect, brush);
    FrameRect(painter, rect, pen);
}

void XPCDC::RoundRect(QPainter& painter, const QRect& rect, const QColor& pen, const QColor& brush, int corner) {
    painter.save();
    painter.setPen(pen);
    painter.setBrush(brush);
    painter.drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), corner / 2.0, corner / 2.0);
    painter.restore();
}

void XPCDC::Line(QPainter& painter, const QPoint& from, const QPoint& to, const QColor& colour) {
    painter.save();
    painter.setPen(QPen(colour, 1));
    painter.drawLine(from, to);
    painter.restore();
}

void XPCDC::FillRegion(QPainter& painter, const QRegion& region, const QColor& colour) {
    for (const QRect& rect : region) painter.fillRect(rect, colour);
}

void XPCDC::FrameRegion(QPainter& painter, const QRegion& region, const QColor& colour) {
    // The band one pixel wide just inside the region's outline: the region less its erosion.
    const QRegion eroded = region & region.translated(1, 0) & region.translated(-1, 0) & region.translated(0, 1) &
                           region.translated(0, -1);
    FillRegion(painter, region.subtracted(eroded), colour);
}

void XPCDC::Gradient(QPainter& painter, const QRect& rect, const QColor& from, const QColor& to, bool vertical) {
    QLinearGradient gradient(rect.topLeft(), vertical ? rect.bottomLeft() : rect.topRight());
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    painter.fillRect(rect, gradient);
}

void XPCDC::BevelledBox(QPainter& painter, const QRect& rect, const QColor& outer, const QColor& inner,
                        const QColor& light, const QColor& shadow) {
    painter.fillRect(rect, outer);
    painter.fillRect(rect.adjusted(1, 1, -1, -1), inner);
    const QRect in = rect.adjusted(1, 1, -2, -2);
    painter.save();
    painter.setPen(QPen(shadow, 1));
    painter.drawLine(in.topLeft(), in.topRight());
    painter.drawLine(in.topLeft(), in.bottomLeft());
    painter.drawLine(in.topLeft() + QPoint(1, 1), in.topRight() + QPoint(-1, 1));
    painter.drawLine(in.topLeft() + QPoint(1, 1), in.bottomLeft() + QPoint(1, -1));
    painter.setPen(QPen(light, 1));
    painter.drawLine(in.bottomLeft(), in.bottomRight());
    painter.drawLine(in.topRight(), in.bottomRight());
    painter.restore();
}

void XPCDC::Text(QPainter& painter, int x, int y, const QString& text, const QColor& colour) {
    painter.save();
    const QFont font = StandardFont();
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(QPoint(x, y + QFontMetrics(font).ascent()), text);
    painter.restore();
}
