#pragma once

#include <QFont>

#include "CDlgParent.h"
#include "SSPanelCollection.h"
#include "SSTextPanel.h"

class CImageButton;

// The updater's message box: the skinned 295 x 193 face with one OK picture button. Every
// message of the updater is shown in it, modally; Escape, Return and Alt+F4 close nothing.
class CMyMessage : public CDlgParent {
    Q_OBJECT
public:
    static constexpr int kOkId = 1001;

    explicit CMyMessage(QWidget* parent = nullptr);
    void SetMessage(const QString& text) { messagePanel_.SetText(text); }
    QString Message() const { return messagePanel_.Text(); }
    CImageButton* OkButton() const { return ok_; }

    // Runs a box with `text` modally and answers 1 (OK): the handler the application object
    // installs for skinned message boxes.
    static int Show(QWidget* parent, const QString& text);

protected:
    bool PreTranslateMessage(QObject* target, QEvent* event) override;
    void DrawOnFace(QPainter& painter) override;

private:
    CImageButton* ok_;
    QFont font_;
    UA::UI::SSTextPanel messagePanel_;
    UA::UI::SSPanelCollection panels_;
};
