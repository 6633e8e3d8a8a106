#pragma once

#include "CSkinnedMessageBox.h"

// The updater's message box: the skinned 295 x 193 face with one OK picture button. Every
// message of the updater is shown in it, modally; Escape, Return and Alt+F4 close nothing.
class CMyMessage : public CSkinnedMessageBox {
    Q_OBJECT
public:
    static constexpr int kOkId = 1001;

    explicit CMyMessage(QWidget* parent = nullptr);
    // Unlike SetText, leaves the repaint to the next paint.
    void SetMessage(const QString& text) { TextPanel().SetText(text); }
    QString Message() const { return Text(); }

    // Runs a box with `text` modally and answers 1 (OK): the handler the application object
    // installs for skinned message boxes.
    static int Show(QWidget* parent, const QString& text);

protected:
    // Escape, Return and Enter key presses only; no repaint after a click on the face.
    bool PreTranslateMessage(QObject* target, QEvent* event) override;
};
