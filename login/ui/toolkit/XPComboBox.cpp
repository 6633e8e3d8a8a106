#include "XPComboBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionComboBox>

#include "SkinnedItemDelegate.h"

namespace UI::Controls {

namespace {

// Lays out the edit part and the arrow of our combo boxes as the face paints them, so that a
// press on the arrow drops the list and a press on the edit part does not.
class FlatComboStyle : public QProxyStyle {
public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        const auto* combo = qobject_cast<const XPComboBox*>(widget);
        if (control == CC_ComboBox && combo && combo->ArrowHeight() > 0) {
            if (sub == SC_ComboBoxEditField) return combo->EditRect();
            if (sub == SC_ComboBoxArrow)
                return QRect(option->rect.width() - combo->ArrowHeight(), 0, combo->ArrowHeight(),
                             option->rect.height());
        }
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }
};

QStyle* SharedFlatStyle() {
    static QStyle* style = [] {
        auto* s = new FlatComboStyle;
        s->setParent(qApp);  // lives as long as the application
        return s;
    }();
    return style;
}

}  // namespace

XPComboBox::XPComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setStyle(SharedFlatStyle());
    setItemDelegate(new SkinnedItemDelegate(
        this,
        [this](const QStyleOptionViewItem& option, bool selected) {
            return SkinnedItemDelegate::Look{selected ? backSelected_ : backNormal_, nullptr,
                                             selected ? textSelected_ : textNormal_, option.font, 0};
        },
        [this] { return itemHeight_; }));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The edit part: black on white.
    QPalette palette = lineEdit()->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    lineEdit()->setPalette(palette);
    lineEdit()->setFrame(false);
    lineEdit()->setReadOnly(true);
}

void XPComboBox::SetArrowPictures(const QString& normal, const QString& hover, const QString& dropped, int cx,
                                  int cy, bool readOnly) {
    auto load = [cx, cy](const QString& path) {
        QImage image(path);
        return image.isNull() ? image : image.scaled(cx, cy, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    };
    arrowNormal_ = load(normal);
    arrowHover_ = load(hover);
    arrowDropped_ = load(dropped);
    arrowWidth_ = cx;
    arrowHeight_ = cy;
    // Selection field cy - 6 high plus the 3-pixel edges: the control is cy high.
    setFixedHeight(cy);
    lineEdit()->setReadOnly(readOnly);
    PlaceEdit();
    update();
}

void XPComboBox::SetColours(const QColor& frameNormal, const QColor& frameActive, const QColor& textNormal,
                            const QColor& textSelected, const QColor& backNormal, const QColor& backSelected) {
    frameNormal_ = frameNormal;
    frameActive_ = frameActive;
    textNormal_ = textNormal;
    textSelected_ = textSelected;
    backNormal_ = backNormal;
    backSelected_ = backSelected;
    update();
}

void XPComboBox::SetItemHeight(int height) {
    itemHeight_ = height;
    view()->doItemsLayout();
}

QRect XPComboBox::EditRect() const {
    return QRect(1, (height() - 16) / 2, width() - arrowHeight_ - 1, 16);
}

QColor XPComboBox::CurrentFrameColour() const {
    return dropped_ || hovered_ ? frameActive_ : frameNormal_;
}

const QImage& XPComboBox::CurrentArrow() const {
    if (dropped_) return arrowDropped_;
    if (hovered_) return arrowHover_;
    return arrowNormal_;
}

void XPComboBox::PlaceEdit() {
    if (arrowHeight_ > 0 && lineEdit()) lineEdit()->setGeometry(EditRect());
}

void XPComboBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(QPen(CurrentFrameColour(), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const QImage& arrow = CurrentArrow();
    if (!arrow.isNull())
        painter.drawImage(QPoint(width() - arrowWidth_, 0), arrow, QRect(0, 0, arrowWidth_, arrowWidth_));
}

void XPComboBox::mouseMoveEvent(QMouseEvent* event) {
    if (event->position().x() >= width() - kHoverBand) {
        hovered_ = 1;
        update();
    }
    QComboBox::mouseMoveEvent(event);
}

void XPComboBox::leaveEvent(QEvent* event) {
    hovered_ = 0;
    update();
    QComboBox::leaveEvent(event);
}

void XPComboBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dropped_ = 1;
    QComboBox::mousePressEvent(event);
    if (!view()->isVisible()) dropped_ = 0;  // a press beside the arrow drops nothing
    update();
}

void XPComboBox::resizeEvent(QResizeEvent* event) {
    QComboBox::resizeEvent(event);
    PlaceEdit();
}

void XPComboBox::showPopup() {
    dropped_ = 1;
    QComboBox::showPopup();
    if (!popupWatched_) {
        // The list also closes without hidePopup (a click elsewhere): watch its window.
        view()->window()->installEventFilter(this);
        popupWatched_ = true;
    }
    update();
}

void XPComboBox::hidePopup() {
    QComboBox::hidePopup();
    SetDropped(false);
}

void XPComboBox::SetDropped(bool dropped) {
    dropped_ = dropped ? 1 : 0;
    update();
}

bool XPComboBox::eventFilter(QObject* watched, QEvent* event) {
    if (popupWatched_ && watched == view()->window() && event->type() == QEvent::Hide) SetDropped(false);
    return QComboBox::eventFilter(watched, event);
}

}  // namespace UI::Controls
