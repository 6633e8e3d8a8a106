#pragma once

#include <vector>

#include <QColor>
#include <QPoint>
#include <QString>

class QFont;
class QPainter;
class QWidget;

namespace UA::UI {

class ISSRadioBoxCollectionEvent;
class SSRadioBox;

// One group of radio boxes on a window's face. The window passes it the mouse messages of its
// client area and does its own processing only when the collection answers false. A click
// takes the chosen box through 0 -> 1 (button down, reported) -> 4 (button up); clicking the
// chosen box again reports it again.
class SSRadioBoxCollection {
public:
    // `owner` is repainted where a box changes; `receiver` is told of every choice.
    SSRadioBoxCollection(QWidget* owner, ISSRadioBoxCollectionEvent* receiver)
        : owner_(owner), receiver_(receiver) {}

    void Add(SSRadioBox* box) { boxes_.push_back(box); }
    void SetFont(const QFont* font);
    void SetAppearance(const QFont* font, const QColor& normal, const QColor& hover, const QColor& checked,
                       const QString& normalMark, const QString& hoverMark, const QString& checkedMark);

    bool OnMouseMove(const QPoint& point);
    bool OnLButtonDown(const QPoint& point);
    void OnLButtonUp(const QPoint& point);
    // Chooses box `index` as a click at its top-left corner + (1, 1) would.
    void Select(int index);
    void DrawAll(QPainter& painter);

    const std::vector<SSRadioBox*>& Items() const { return boxes_; }
    SSRadioBox* Current() const { return current_; }

private:
    SSRadioBox* BoxAt(const QPoint& point) const;
    void Invalidate(const SSRadioBox* box) const;

    QWidget* owner_;
    ISSRadioBoxCollectionEvent* receiver_;
    std::vector<SSRadioBox*> boxes_;
    SSRadioBox* current_ = nullptr;
    SSRadioBox* hovered_ = nullptr;
};

}  // namespace UA::UI
