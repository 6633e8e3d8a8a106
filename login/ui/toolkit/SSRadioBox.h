#pragma once

#include <QImage>
#include <QString>

#include "XPControl.h"

namespace UA::UI {

// A radio box drawn on the face: a 13x13 mark picture and its label. Its interaction state is
// driven by SSRadioBoxCollection: 0 normal, 1 chosen with the button held, 3 hover, 4 chosen.
class SSRadioBox : public XPControl {
public:
    static constexpr int kMarkSize = 13;

    SSRadioBox() : XPControl(kRadioBox) {}

    void Init(int id, const QString& label, const QRect& rect);
    void SetColours(const QColor& normal, const QColor& hover, const QColor& checked);
    // Loads the three mark pictures; a missing file leaves that mark empty.
    void LoadMarks(const QString& normalPath, const QString& hoverPath, const QString& checkedPath);

    void Draw(QPainter& painter) override;

    int State() const { return state_; }
    void SetState(int state) { state_ = state; }
    const QString& Label() const { return label_; }

private:
    QString label_;
    int state_ = 0;
    QColor hoverColour_ = Qt::black;
    QColor normalColour_ = Qt::black;
    QColor checkedColour_ = Qt::black;
    QImage normalMark_;
    QImage hoverMark_;
    QImage checkedMark_;
};

}  // namespace UA::UI
