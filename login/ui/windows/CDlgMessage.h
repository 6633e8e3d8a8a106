#pragma once

#include <QString>

#include "CSkinnedMessageBox.h"

// The skinned message box: a 295x193 face, one line of text and an OK button. The application
// object installs ShowSkinnedMessage as the routing of AppMessageBox, so every message of the
// broadcaster appears here; callers create the box on the stack and run it modally.
class CDlgMessage : public CSkinnedMessageBox {
    Q_OBJECT
public:
    static constexpr int kTemplate = 150;
    static constexpr int kOkId = 1173;

    explicit CDlgMessage(QWidget* parent = nullptr);
};

// Runs a CDlgMessage with `text` modally over `parent`; answers 1 (OK). The handler the
// broadcaster's application object passes to SetSkinnedMessageHandler.
int ShowSkinnedMessage(QWidget* parent, const QString& text);
