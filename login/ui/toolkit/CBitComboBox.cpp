#include "CBitComboBox.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include "SkinResources.h"
#include "SkinnedItemDelegate.h"

namespace {

constexpr int kEdge = 2;  // the platform's 3-D edge width
const QColor kListFrame(0, 147, 209);

const QImage& ArrowStrip() {
    static const QImage strip(SkinResources::Path(QStringLiteral("bitmap"), SkinResources::kComboArrows));
    return strip;
}

const QImage& SelectionPicture() {
    static const QImage picture(SkinResources::Path(QStringLiteral("bitmap"), SkinResources::kComboSelection));
    return picture;
}

}  // namespace

CBitComboBox::CBitComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setInsertPolicy(QComboBox::NoInsert);
    // White items, the selected one on its picture, the text two pixels in, in the box's font.
    setItemDelegate(new UI::Controls::SkinnedItemDelegate(
        this,
        [this](const QStyleOptionViewItem&, bool selected) {
            return UI::Controls::SkinnedItemDelegate::Look{Qt::white, selected ? &SelectionPicture() : nullptr,
                                                           Qt::black, font(), 2};
        },
        [this] { return itemHeight_; }));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The list's own frame, one pixel outside its items.
    view()->setFrameShape(QFrame::Box);
    view()->setFrameShadow(QFrame::Plain);
    view()->setLineWidth(1);
    QPalette palette = view()->palette();
    palette.setColor(QPalette::WindowText, kListFrame);
    palette.setColor(QPalette::Base, Qt::white);
    view()->setPalette(palette);
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && index < count()) update();
    });
}

void CBitComboBox::SetItemHeight(int height) {
    itemHeight_ = height;
    view()->doItemsLayout();
}

QRect CBitComboBox::ArrowRect() const {
    const int third = ArrowStrip().width() / 3;
    return QRect(width() - third - 1, 1, third, height() - 2);
}

void CBitComboBox::paintEvent(QPaintEvent*) {
    QImage offscreen(size(), QImage::Format_ARGB32_Premultiplied);
    offscreen.fill(Qt::white);
    {
        QPainter painter(&offscreen);
        painter.setPen(QPen(frameColour_, 1));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        const QImage& strip = ArrowStrip();
        if (!strip.isNull()) {
            const int third = strip.width() / 3;
            const int picture = state_ > 2 ? 2 : state_;
            painter.drawImage(ArrowRect(), strip, QRect(picture * third, 0, third, strip.height()));
        }
        painter.setFont(font());
        painter.setPen(Qt::black);
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         QLatin1Char(' ') + currentText());
    }
    QPainter screen(this);
    screen.drawImage(0, 0, offscreen);
}

void CBitComboBox::SetState(int state) {
    state_ = state;
    repaint();
}

void CBitComboBox::mouseMoveEvent(QMouseEvent* event) {
    tracking_ = 1;
    SetState(1);
    QComboBox::mouseMoveEvent(event);
}

void CBitComboBox::mousePressEvent(QMouseEvent* event) {
    state_ = 2;
    update();
    QComboBox::mousePressEvent(event);
}

void CBitComboBox::mouseReleaseEvent(QMouseEvent* event) {
    state_ = 1;
    update();
    QComboBox::mouseReleaseEvent(event);
}

void CBitComboBox::leaveEvent(QEvent* event) {
    tracking_ = 0;
    SetState(0);
    QComboBox::leaveEvent(event);
}

void CBitComboBox::showPopup() {
    const QFontMetrics metrics(font());
    int widest = 0;
    for (int i = 0; i < count(); ++i) widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
    const int needed = widest + 2 * kEdge + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    droppedWidth_ = std::max(width(), needed);
    view()->setMinimumWidth(droppedWidth_);
    QComboBox::showPopup();
}
