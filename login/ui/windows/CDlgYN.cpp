#include "CDlgYN.h"

#include "XPCDC.h"

CDlgYN::CDlgYN(QWidget* parent)
    : CSkinnedMessageBox(kTemplate, Buttons::kOkCancel, XPCDC::StandardFont(), kTextRect, parent) {}
