#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>

class QPainter;

// Drawing routines shared by the drawn controls and the skinned windows.
class XPCDC {
public:
    // "新宋体", 12 pixels high; fontconfig substitutes an installed CJK face.
    static QFont StandardFont(int pixelHeight = 12, int weight = 400);

    // The bitmap's top-left part, 1:1, into `rect`.
    static void CopyBitmap(QPainter& painter, const QImage& bitmap, const QRect& rect);
    // The whole bitmap stretched into `rect`.
    static void StretchBitmap(QPainter& painter, const QImage& bitmap, const QRect& rect);
    // Stretched, with every pixel of colour `transparent` left out.
    static void TransparentBitmap(QPainter& painter, const QImage& bitmap, const QRect& rect, const QColor& transparent);
    // A compiled-in bitmap (":/bitmap/<id>") copied 1:1 into `rect`; false when there is none.
    static bool ResourceBitmap(QPainter& painter, int id, const QRect& rect);
    // An icon file drawn at the rectangle's size; false when it cannot be read.
    static bool IconFromFile(QPainter& painter, const QString& path, const QRect& rect);
    static void FrameRect(QPainter& painter, const QRect& rect, const QColor& colour);
    static void FilledRect(QPainter& painter, const QRect& rect, const QColor& pen, const QColor& brush);
    static void RoundRect(QPainter& painter, const QRect& rect, const QColor& pen, const QColor& brush, int corner);
    static void Line(QPainter& painter, const QPoint& from, const QPoint& to, const QColor& colour);
    static void FillRegion(QPainter& painter, const QRegion& region, const QColor& colour);
    static void FrameRegion(QPainter& painter, const QRegion& region, const QColor& colour);
    // Two-colour gradient across `rect`, left to right or top to bottom.
    static void Gradient(QPainter& painter, const QRect& rect, const QColor& from, const QColor& to, bool vertical);
    // Outer fill, inner fill one pixel in, and a two-pixel inset frame.
    static void BevelledBox(QPainter& painter, const QRect& rect, const QColor& outer, const QColor& inner,
                            const QColor& light, const QColor& shadow);
    // Text at (x, y) (top-left of the text cell) in the standard font, transparent background.
    static void Text(QPainter& painter, int x, int y, const QString& text, const QColor& colour);
};
