#pragma once

#include <QColor>
#include <QComboBox>

// The login window's user list: a drop-down list drawn white with a one-pixel frame, a three-
// state arrow from bitmap resource 148 and selected items on bitmap resource 149. The list is
// widened to its widest item when it opens.
class CBitComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CBitComboBox(QWidget* parent = nullptr);

    void SetFrameColour(const QColor& colour) {
        frameColour_ = colour;
        update();
    }
    const QColor& FrameColour() const { return frameColour_; }
    void SetItemHeight(int height);
    int ItemHeight() const { return itemHeight_; }
    // 0 normal, 1 hover, 2 pressed.
    int VisualState() const { return state_; }
    // The width the list opens with.
    int DroppedWidth() const { return droppedWidth_; }
    // The arrow's place: (width - w/3 - 1, 1, w/3, height - 2), w the resource's width.
    QRect ArrowRect() const;

    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void SetState(int state);

    QColor frameColour_ = QColor(84, 165, 213);
    int state_ = 0;
    unsigned char tracking_ = 0;
    int itemHeight_ = 20;
    int droppedWidth_ = 0;
};
