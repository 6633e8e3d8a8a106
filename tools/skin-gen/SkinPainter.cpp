#include "SkinPainter.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

QColor Lighter(const QColor& c, int percent) {
    return QColor(c.red() + (255 - c.red()) * percent / 100, c.green() + (255 - c.green()) * percent / 100,
                  c.blue() + (255 - c.blue()) * percent / 100);
}

void TitleBand(QPainter& p, int width, int height, const QString& title) {
    QLinearGradient band(0, 0, width, 0);
    band.setColorAt(0, SkinPainter::TitleBlue());
    band.setColorAt(1, SkinPainter::BrightBlue());
    p.fillRect(0, 0, width, height, band);
    p.fillRect(0, height - 1, width, 1, Lighter(SkinPainter::TitleBlue(), 30));
    if (title.isEmpty()) return;
    // The mark: a small white "play" triangle in a circle, then the title.
    const int r = std::max(6, height / 2 - 6);
    const QPointF c(10 + r, height / 2.0);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawEllipse(c, r, r);
    QPainterPath play;
    play.moveTo(c.x() - r * 0.35, c.y() - r * 0.5);
    play.lineTo(c.x() + r * 0.55, c.y());
    play.lineTo(c.x() - r * 0.35, c.y() + r * 0.5);
    play.closeSubpath();
    p.setBrush(SkinPainter::TitleBlue());
    p.drawPath(play);
    p.setPen(Qt::white);
    p.setFont(SkinPainter::Font(std::max(12, height / 2), true));
    p.drawText(QRect(20 + 2 * r, 0, width, height), Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setRenderHint(QPainter::Antialiasing, false);
}

void Frame(QPainter& p, int width, int height) {
    p.setPen(SkinPainter::TitleBlue());
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, width - 1, height - 1);
}

}  // namespace

QFont SkinPainter::Font(int pixelSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("新宋体"), QStringLiteral("Sans")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QImage SkinPainter::Face(int width, int height, const QString& title, int titleHeight) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    TitleBand(p, width, titleHeight, title);
    // A pale foot where the buttons sit.
    const int foot = std::min(44, height / 5);
    p.fillRect(1, height - foot, width - 2, foot - 1, PaleBlue());
    p.fillRect(1, height - foot, width - 2, 1, Lighter(FrameBlue(), 50));
    Frame(p, width, height);
    return image;
}

QImage SkinPainter::MainMenuFace() {
    const int width = 640, height = 484;
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    TitleBand(p, width, 36, QStringLiteral("STRIMO直播"));
    // Left menu column.
    QLinearGradient column(0, 36, 0, height);
    column.setColorAt(0, PaleBlue());
    column.setColorAt(1, Lighter(FrameBlue(), 70));
    p.fillRect(1, 36, 136, height - 37, column);
    p.fillRect(137, 36, 1, height - 37, Lighter(FrameBlue(), 30));
    // The product's mark above the menu.
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient disc(70, 110, 52);
    disc.setColorAt(0, BrightBlue());
    disc.setColorAt(1, TitleBlue());
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(QPointF(70, 110), 46, 46);
    QPainterPath play;
    play.moveTo(56, 88);
    play.lineTo(94, 110);
    play.lineTo(56, 132);
    play.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(play);
    p.setPen(TitleBlue());
    p.setFont(Font(16, true));
    p.drawText(QRect(0, 160, 137, 24), Qt::AlignCenter, QStringLiteral("STRIMO直播"));
    p.setRenderHint(QPainter::Antialiasing, false);
    // The pages' place.
    p.setPen(Lighter(FrameBlue(), 40));
    p.setBrush(Qt::NoBrush);
    p.drawRect(169, 39, 467, 441);
    Frame(p, width, height);
    return image;
}

QImage SkinPainter::PageFace(const QString& heading) {
    const int width = 466, height = 440;
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    if (!heading.isEmpty()) {
        // A faint watermark of the page's subject in the lower right corner.
        p.setPen(QColor(236, 243, 248));
        p.setFont(Font(40, true));
        p.drawText(QRect(0, 300, width - 16, 90), Qt::AlignRight | Qt::AlignBottom, heading);
    }
    p.fillRect(0, 398, width, 1, Lighter(FrameBlue(), 40));
    return image;
}

QImage SkinPainter::Button(int width, int height, const QString& label, Look look) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QColor top, bottom, text = Qt::white, edge;
    switch (look) {
    case Look::Normal: top = Lighter(TitleBlue(), 25); bottom = TitleBlue(); edge = TitleBlue().darker(115); break;
    case Look::Hover:
    case Look::Select: top = Lighter(BrightBlue(), 25); bottom = BrightBlue(); edge = BrightBlue().darker(120); break;
    case Look::Disable: top = QColor(226, 229, 232); bottom = QColor(200, 204, 208); edge = QColor(170, 174, 178);
        text = QColor(130, 134, 138); break;
    }
    QLinearGradient fill(0, 0, 0, height);
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setPen(edge);
    p.setBrush(fill);
    const qreal radius = std::min(4.0, height / 4.0);
    p.drawRoundedRect(QRectF(0.5, 0.5, width - 1, height - 1), radius, radius);
    p.setPen(text);
    // The label keeps a few pixels of the button's face on either side: smaller slots get a
    // smaller font rather than letters running into the edges.
    int pixels = std::clamp(height - 10, 11, 16);
    QFont font = Font(pixels, height >= 30);
    while (pixels > 9 && QFontMetrics(font).horizontalAdvance(label) > width - 6) font = Font(--pixels, height >= 30);
    p.setFont(font);
    p.drawText(QRect(0, 0, width, height), Qt::AlignCenter, label);
    return image;
}

QImage SkinPainter::Tab(int width, int height, const QString& label, Look look, bool subTab) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QColor text = TitleBlue();
    switch (look) {
    case Look::Normal: image.fill(subTab ? Lighter(FrameBlue(), 75) : PaleBlue()); break;
    case Look::Hover: image.fill(Lighter(BrightBlue(), 60)); break;
    case Look::Select:
    case Look::Disable: {
        QLinearGradient fill(0, 0, width, 0);
        fill.setColorAt(0, BrightBlue());
        fill.setColorAt(1, Lighter(BrightBlue(), 30));
        p.fillRect(0, 0, width, height, fill);
        text = Qt::white;
        break;
    }
    }
    p.fillRect(0, height - 1, width, 1, Lighter(FrameBlue(), 45));
    if (!subTab) p.fillRect(0, 0, 4, height, look == Look::Normal ? FrameBlue() : TitleBlue());
    p.setPen(text);
    p.setFont(Font(subTab ? 12 : 14, !subTab));
    p.drawText(QRect(subTab ? 34 : 20, 0, width, height), Qt::AlignLeft | Qt::AlignVCenter, label);
    if (subTab) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(text);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(24, height / 2.0), 2.5, 2.5);
    }
    return image;
}

QImage SkinPainter::TitleButton(int width, int height, bool close, Look look) {
    QImage image(width, height, QImage::Format_RGB32);
    // Unlit, the button melts into the right end of the title band.
    image.fill(look == Look::Normal ? BrightBlue() : (close ? QColor(214, 64, 64) : TitleBlue()));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1.6));
    const qreal cx = width / 2.0, cy = height / 2.0, r = std::min(width, height) * 0.25;
    if (close) {
        p.drawLine(QPointF(cx - r, cy - r), QPointF(cx + r, cy + r));
        p.drawLine(QPointF(cx + r, cy - r), QPointF(cx - r, cy + r));
    } else {
        p.drawLine(QPointF(cx - r, cy + r * 0.6), QPointF(cx + r, cy + r * 0.6));
    }
    return image;
}

QImage SkinPainter::LinkPicture(int width, int height, const QString& label, Look look) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    const QColor colour = look == Look::Normal ? QColor(0, 0, 255) : BrightBlue();
    p.setPen(colour);
    QFont font = Font(12);
    font.setUnderline(look != Look::Normal);
    p.setFont(font);
    p.drawText(QRect(0, 0, width, height), Qt::AlignLeft | Qt::AlignVCenter, label);
    return image;
}

QImage SkinPainter::RadioMark(bool checked) {
    QImage image(13, 13, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(FrameBlue(), 1));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(0.5, 0.5, 12, 12));
    if (checked) {
        p.setPen(Qt::NoPen);
        p.setBrush(BrightBlue());
        p.drawEllipse(QRectF(3.5, 3.5, 6, 6));
    }
    return image;
}

QImage SkinPainter::ComboArrow(int size, Look look) {
    QImage image(size, size, QImage::Format_RGB32);
    QColor back = Qt::white, arrow = FrameBlue();
    if (look == Look::Hover) {
        back = Lighter(BrightBlue(), 75);
        arrow = TitleBlue();
    } else if (look != Look::Normal) {
        back = BrightBlue();
        arrow = Qt::white;
    }
    image.fill(back);
    QPainter p(&image);
    p.setPen(look == Look::Normal ? FrameBlue() : QColor(59, 141, 179));
    p.drawRect(0, 0, size - 1, size - 1);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(arrow);
    const qreal c = size / 2.0, w = size * 0.22;
    QPainterPath tri;
    tri.moveTo(c - w, c - w / 2);
    tri.lineTo(c + w, c - w / 2);
    tri.lineTo(c, c + w * 0.7);
    tri.closeSubpath();
    p.drawPath(tri);
    return image;
}

QImage SkinPainter::Icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, size, size);
    fill.setColorAt(0, BrightBlue());
    fill.setColorAt(1, TitleBlue());
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), size / 5.0, size / 5.0);
    QPainterPath play;
    play.moveTo(size * 0.36, size * 0.26);
    play.lineTo(size * 0.76, size * 0.5);
    play.lineTo(size * 0.36, size * 0.74);
    play.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(play);
    return image;
}

QImage SkinPainter::TipStop(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(PaleBlue());
    QPainter p(&image);
    p.setPen(Lighter(FrameBlue(), 30));
    p.drawRect(0, 0, width - 1, height - 1);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(FrameBlue());
    p.drawEllipse(QPointF(20, height / 2.0), 9, 9);
    p.setPen(Qt::white);
    p.setFont(Font(13, true));
    p.drawText(QRectF(11, height / 2.0 - 9, 18, 18), Qt::AlignCenter, QStringLiteral("i"));
    p.setPen(TitleBlue());
    p.setFont(Font(13));
    p.drawText(QRect(38, 0, width - 40, height), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
               QStringLiteral("当前未直播。点击“开始直播”，选择正在运行的游戏即可开播。"));
    return image;
}

std::vector<QImage> SkinPainter::LiveAnimation(int frames) {
    std::vector<QImage> out;
    for (int i = 0; i < frames; ++i) {
        QImage image(98, 13, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(i % 2 == 0 ? QColor(224, 40, 40) : QColor(245, 160, 160));
        p.drawEllipse(QPointF(6.5, 6.5), 4.5, 4.5);
        p.setPen(TitleBlue());
        p.setFont(Font(12, true));
        p.drawText(QRect(15, 0, 60, 13), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("正在直播"));
        // A travelling light along a short bar.
        p.setPen(Qt::NoPen);
        for (int k = 0; k < 4; ++k) {
            p.setBrush(k == i % 4 ? BrightBlue() : Lighter(FrameBlue(), 60));
            p.drawRect(QRectF(68 + k * 7.5, 4, 5, 5));
        }
        out.push_back(image);
    }
    return out;
}

QImage SkinPainter::SplashBackground(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient fill(0, 0, 0, height);
    fill.setColorAt(0, TitleBlue());
    fill.setColorAt(1, BrightBlue());
    p.fillRect(0, 0, width, height, fill);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawEllipse(QPointF(width / 2.0, 130), 56, 56);
    QPainterPath play;
    play.moveTo(width / 2.0 - 18, 100);
    play.lineTo(width / 2.0 + 30, 130);
    play.lineTo(width / 2.0 - 18, 160);
    play.closeSubpath();
    p.setBrush(TitleBlue());
    p.drawPath(play);
    p.setPen(Qt::white);
    p.setFont(Font(30, true));
    p.drawText(QRect(0, 200, width, 44), Qt::AlignCenter, QStringLiteral("STRIMO直播"));
    p.setFont(Font(16));
    p.drawText(QRect(0, 250, width, 28), Qt::AlignCenter, QStringLiteral("正在检查更新，请稍候…"));
    return image;
}

QImage SkinPainter::SplashBar(int width, int height, int step, int steps) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Lighter(TitleBlue(), 15));
    QPainter p(&image);
    p.fillRect(0, 0, width, height, QColor(255, 255, 255, 60));
    const int lit = width * (step + 1) / steps;
    p.fillRect(0, 0, lit, height, Qt::white);
    return image;
}

std::vector<std::uint32_t> SkinPainter::Palette() {
    std::vector<std::uint32_t> palette;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) palette.push_back(static_cast<std::uint32_t>((r * 51) << 16 | (g * 51) << 8 | b * 51));
    // The design's colours and their tints, and greys, exactly.
    for (const QColor& c : {TitleBlue(), BrightBlue(), FrameBlue(), PaleBlue(), QColor(59, 141, 179),
                            QColor(224, 40, 40), QColor(245, 160, 160)}) {
        for (int t : {0, 15, 30, 45, 60, 75}) {
            const QColor l = Lighter(c, t);
            palette.push_back(static_cast<std::uint32_t>(l.rgb() & 0xFFFFFF));
        }
    }
    for (int g = 0; palette.size() < 256; ++g) palette.push_back(static_cast<std::uint32_t>(0x0A0A0A * (g + 1) % 0x1000000));
    return palette;
}

std::vector<std::uint8_t> SkinPainter::Indices(const QImage& source) {
    static const std::vector<std::uint32_t> palette = Palette();
    static std::unordered_map<std::uint32_t, std::uint8_t> cache;
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const std::uint32_t rgb = row[x] & 0xFFFFFF;
            auto it = cache.find(rgb);
            if (it == cache.end()) {
                int best = 0;
                long bestDistance = -1;
                for (std::size_t i = 0; i < palette.size(); ++i) {
                    const long dr = static_cast<long>((palette[i] >> 16) & 0xFF) - ((rgb >> 16) & 0xFF);
                    const long dg = static_cast<long>((palette[i] >> 8) & 0xFF) - ((rgb >> 8) & 0xFF);
                    const long db = static_cast<long>(palette[i] & 0xFF) - (rgb & 0xFF);
                    const long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
                    if (bestDistance < 0 || d < bestDistance) {
                        bestDistance = d;
                        best = static_cast<int>(i);
                    }
                }
                it = cache.emplace(rgb, static_cast<std::uint8_t>(best)).first;
            }
            out.push_back(it->second);
        }
    }
    return out;
}
