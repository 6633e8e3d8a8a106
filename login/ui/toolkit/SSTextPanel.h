#pragma once

#include <QString>

#include "XPControl.h"

namespace UA::UI {

// A block of text on the face, word-wrapped inside its rectangle. A line that does not fit
// whole below the last one is not drawn, as in a multi-line edit control.
class SSTextPanel : public XPControl {
public:
    SSTextPanel() : XPControl(kTextPanel) {}

    void Init(int id, const QString& text, const QRect& rect, const QColor& colour = Qt::black);
    void SetText(const QString& text) { text_ = text; }
    const QString& Text() const { return text_; }
    void SetTextColour(const QColor& colour) { colour_ = colour; }
    const QColor& TextColour() const { return colour_; }

    void Draw(QPainter& painter) override;
    void Reset() override { baseState_ = 0; }

private:
    QString text_;
    QColor colour_ = Qt::black;
};

}  // namespace UA::UI
