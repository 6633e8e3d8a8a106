#include "CDlgMessage.h"

#include "XPCDC.h"

CDlgMessage::CDlgMessage(QWidget* parent)
    : CSkinnedMessageBox(kTemplate, Buttons::kOk, XPCDC::StandardFont(), kTextRect, parent) {}

int ShowSkinnedMessage(QWidget* parent, const QString& text) {
    CDlgMessage box(parent);
    box.SetText(text);
    box.exec();
    return 1;
}
