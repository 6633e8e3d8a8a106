#pragma once

#include <QColor>
#include <QFont>
#include <QRect>

class QPainter;

namespace UA::UI {

// Builds the rectangle (left, top, right, bottom) the way the face coordinates are written:
// right and bottom lie just outside, as in every hit test of the items.
inline QRect RectLTRB(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

// A drawn item on a window's face: not a window itself. The owning window draws it into its
// off-screen face and feeds it its mouse messages through a collection.
class XPControl {
public:
    enum Kind { kLink = 0, kRadioBox = 5, kTextPanel = 6 };

    explicit XPControl(int kind) : kind_(kind) {}
    virtual ~XPControl() = default;
    XPControl(const XPControl&) = delete;
    XPControl& operator=(const XPControl&) = delete;

    virtual void SetRect(const QRect& rect) { rect_ = rect; }
    // Moves the item to (x, y) keeping its size.
    virtual void MoveTo(int x, int y) { rect_.moveTo(x, y); }
    virtual void Draw(QPainter& painter) = 0;
    virtual void Reset() {}
    virtual void Refresh() {}
    virtual void SetStateHover() { baseState_ = 3; }
    virtual void SetStateNormal() { baseState_ = 0; }
    virtual void SetStatePressed() { baseState_ = 1; }
    virtual void SetStateDisabled() { baseState_ = 2; }
    virtual void SetStateChecked() { baseState_ = 4; }
    virtual void SetRect(int left, int top, int right, int bottom) { SetRect(RectLTRB(left, top, right, bottom)); }

    bool IsKindRadio() const { return baseState_ == 5; }
    bool IsHover() const { return baseState_ == 3; }
    bool IsPressed() const { return baseState_ == 1; }
    bool IsChecked() const { return baseState_ == 4; }
    bool IsNormal() const { return baseState_ == 0; }

    int Id() const { return id_; }
    void SetId(int id) { id_ = id; }
    const QRect& Rect() const { return rect_; }
    int Kind() const { return kind_; }
    int BaseState() const { return baseState_; }
    // The font belongs to the window; the collection hands it to all its items.
    void SetFont(const QFont* font) { font_ = font; }
    const QFont* Font() const { return font_; }

protected:
    int id_ = 0;
    QRect rect_;
    const QFont* font_ = nullptr;
    int kind_;
    int baseState_ = 0;
};

}  // namespace UA::UI
