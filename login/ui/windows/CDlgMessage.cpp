#include "CDlgMessage.h"

#include "CImageButton.h"
#include "XPCDC.h"

using UA::UI::RectLTRB;

CDlgMessage::CDlgMessage(QWidget* parent) : CDlgParent(kTemplate, parent), font_(XPCDC::StandardFont()) {
    SetFixedSizeCentred(295, 193);
    SetFacePath(QStringLiteral("res/my_message.png"));
    ok_ = new CImageButton(this);
    ok_->setGeometry(220, 161, 65, 22);
    ok_->LoadPictures(QStringLiteral("res/bg_ok_normal.png"), QStringLiteral("res/bg_ok_select.png"));
    connect(ok_, &CImageButton::clicked, this, [this] { done(1); });
    text_.Init(0, QString(), RectLTRB(20, 80, 295, 93));
    panels_.Add(&text_);
    panels_.SetFont(&font_);
}

CDlgMessage::~CDlgMessage() = default;

void CDlgMessage::SetText(const QString& text) {
    text_.SetText(text);
    update();
}

bool CDlgMessage::PreTranslateMessage(QObject* target, QEvent* event) {
    return PreTranslateSkinnedWindow(target, event);
}

void CDlgMessage::DrawOnFace(QPainter& painter) { panels_.DrawAll(painter); }

int ShowSkinnedMessage(QWidget* parent, const QString& text) {
    CDlgMessage box(parent);
    box.SetText(text);
    box.exec();
    return 1;
}
