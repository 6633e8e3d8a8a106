#pragma once

#include <QColor>
#include <QComboBox>
#include <QImage>

namespace UI::Controls {

// A flat combo box: white face, one-pixel frame, arrow pictures for normal, hover and dropped,
// a read-only edit part and coloured list items. The arrow lights up when the pointer enters
// the rightmost 24 pixels and stays lit until the pointer leaves the control.
class XPComboBox : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kHoverBand = 24;

    explicit XPComboBox(QWidget* parent = nullptr);

    // Loads the three arrow pictures scaled to cx x cy (a missing file leaves that picture
    // empty), makes the control cy high and lays out the edit part beside the arrow.
    void SetArrowPictures(const QString& normal, const QString& hover, const QString& dropped, int cx, int cy,
                          bool readOnly);
    void SetColours(const QColor& frameNormal, const QColor& frameActive, const QColor& textNormal,
                    const QColor& textSelected, const QColor& backNormal, const QColor& backSelected);
    void SetItemHeight(int height);

    bool IsHovered() const { return hovered_ != 0; }
    bool IsDropped() const { return dropped_ != 0; }
    int ArrowWidth() const { return arrowWidth_; }
    int ArrowHeight() const { return arrowHeight_; }
    int ItemHeight() const { return itemHeight_; }
    // The frame colour and arrow picture the next paint uses.
    QColor CurrentFrameColour() const;
    const QImage& CurrentArrow() const;
    // The edit part's place: (1, (height - 16) / 2), width - cy - 1 wide, 16 high.
    QRect EditRect() const;

    const QColor& TextNormal() const { return textNormal_; }
    const QColor& TextSelected() const { return textSelected_; }
    const QColor& BackNormal() const { return backNormal_; }
    const QColor& BackSelected() const { return backSelected_; }

    void showPopup() override;
    void hidePopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlaceEdit();
    void SetDropped(bool dropped);

    QImage arrowNormal_;
    QImage arrowHover_;
    QImage arrowDropped_;
    QColor frameNormal_ = QColor(84, 165, 213);
    QColor frameActive_ = QColor(59, 141, 179);
    QColor textNormal_ = Qt::black;
    QColor textSelected_ = Qt::white;
    QColor backNormal_ = Qt::white;
    QColor backSelected_ = QColor(0, 167, 223);
    unsigned char hovered_ = 0;
    unsigned char dropped_ = 0;
    int arrowWidth_ = 0;
    int arrowHeight_ = 0;
    int itemHeight_ = 18;
    bool popupWatched_ = false;
};

}  // namespace UI::Controls
