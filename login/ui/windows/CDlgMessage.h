#pragma once

#include <QFont>
#include <QString>

#include "CDlgParent.h"
#include "SSPanelCollection.h"
#include "SSTextPanel.h"

class CImageButton;

// The skinned message box: a 295x193 face, one line of text and an OK button. The application
// object installs ShowSkinnedMessage as the routing of AppMessageBox, so every message of the
// broadcaster appears here; callers create the box on the stack and run it modally.
class CDlgMessage : public CDlgParent {
    Q_OBJECT
public:
    static constexpr int kTemplate = 150;
    static constexpr int kOkId = 1173;

    explicit CDlgMessage(QWidget* parent = nullptr);
    ~CDlgMessage() override;

    void SetText(const QString& text);
    QString Text() const { return text_.Text(); }
    CImageButton* OkButton() const { return ok_; }

protected:
    bool PreTranslateMessage(QObject* target, QEvent* event) override;
    void DrawOnFace(QPainter& painter) override;

private:
    CImageButton* ok_;
    QFont font_;
    UA::UI::SSTextPanel text_;
    UA::UI::SSPanelCollection panels_;
};

// Runs a CDlgMessage with `text` modally over `parent`; answers 1 (OK). The handler the
// broadcaster's application object passes to SetSkinnedMessageHandler.
int ShowSkinnedMessage(QWidget* parent, const QString& text);
