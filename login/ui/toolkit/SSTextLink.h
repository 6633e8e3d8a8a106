#pragma once

#include <QString>

#include "XPControl.h"

namespace UA::UI {

// A text link drawn on the face: plain in state 0, underlined under the mouse (state 3).
class SSTextLink : public XPControl {
public:
    SSTextLink() : XPControl(kLink) {}

    void Init(int id, const QString& text, int x, int y, int width, int height, const QColor& colour);
    void Draw(QPainter& painter) override;

    int State() const { return state_; }
    void SetState(int state) { state_ = state; }
    const QString& Text() const { return text_; }
    const QColor& TextColour() const { return colour_; }

private:
    QString text_;
    int state_ = 0;
    QColor colour_ = Qt::blue;
};

}  // namespace UA::UI
