#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include "CDlgParent.h"
#include "SSPanelCollection.h"
#include "SSTextPanel.h"

class CImageButton;

// The skinned message box of the broadcaster and the updater: the 295x193 face
// res/my_message.png, the text in one panel near the middle, and either OK alone at the
// right-hand button place or OK and Cancel side by side. OK ends the box with 1, Cancel with 2;
// Escape, Return and Alt+F4 close nothing. The boxes the programs show (CDlgMessage, CDlgYN,
// CMyMessage) choose their template, buttons, font and text rectangle.
class CSkinnedMessageBox : public CDlgParent {
    Q_OBJECT
public:
    enum class Buttons { kOk, kOkCancel };

    static constexpr int kWidth = 295;
    static constexpr int kHeight = 193;
    // The two button places: OK alone, or Cancel, at the right; OK beside Cancel at the left.
    static constexpr QRect kRightButton{220, 161, 65, 22};
    static constexpr QRect kLeftButton{145, 161, 65, 22};
    // The text panel: (20, 80) to (295, 93), right and bottom just outside.
    static constexpr QRect kTextRect{20, 80, 275, 13};
    // What exec() answers for each button.
    static constexpr int kOkAnswer = 1;
    static constexpr int kCancelAnswer = 2;

    CSkinnedMessageBox(int templateId, Buttons buttons, const QFont& font, const QRect& textRect = kTextRect,
                       QWidget* parent = nullptr);
    ~CSkinnedMessageBox() override;

    // Sets the text and repaints.
    void SetText(const QString& text);
    QString Text() const { return text_.Text(); }
    CImageButton* OkButton() const { return ok_; }
    // Null in a box with OK alone.
    CImageButton* CancelButton() const { return cancel_; }
    // 1 once OK was pressed, 0 once Cancel was, 0 before either; it outlives a run.
    int Result() const { return result_; }

protected:
    // The text panel, for a box that changes the text without a repaint.
    UA::UI::SSTextPanel& TextPanel() { return text_; }

    bool PreTranslateMessage(QObject* target, QEvent* event) override;
    void DrawOnFace(QPainter& painter) override;

private:
    CImageButton* ok_;
    CImageButton* cancel_ = nullptr;
    QFont font_;
    UA::UI::SSTextPanel text_;
    UA::UI::SSPanelCollection panels_;
    int result_ = 0;
};
