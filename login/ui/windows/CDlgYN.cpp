#include "CDlgYN.h"

#include "CImageButton.h"
#include "XPCDC.h"

using UA::UI::RectLTRB;

CDlgYN::CDlgYN(QWidget* parent) : CDlgParent(kTemplate, parent), font_(XPCDC::StandardFont()) {
    SetFixedSizeCentred(295, 193);
    SetFacePath(QStringLiteral("res/my_message.png"));
    ok_ = new CImageButton(this);
    ok_->setGeometry(145, 161, 65, 22);
    ok_->LoadPictures(QStringLiteral("res/bg_ok_normal.png"), QStringLiteral("res/bg_ok_select.png"));
    cancel_ = new CImageButton(this);
    cancel_->setGeometry(220, 161, 65, 22);
    cancel_->LoadPictures(QStringLiteral("res/bg_cancel_normal.png"), QStringLiteral("res/bg_cancel_select.png"));
    connect(ok_, &CImageButton::clicked, this, [this] {
        result_ = 1;
        done(1);
    });
    connect(cancel_, &CImageButton::clicked, this, [this] {
        result_ = 0;
        done(2);
    });
    text_.Init(0, QString(), RectLTRB(20, 80, 295, 93));
    panels_.Add(&text_);
    panels_.SetFont(&font_);
}

CDlgYN::~CDlgYN() = default;

void CDlgYN::SetText(const QString& text) {
    text_.SetText(text);
    update();
}

bool CDlgYN::PreTranslateMessage(QObject* target, QEvent* event) {
    return PreTranslateSkinnedWindow(target, event);
}

void CDlgYN::DrawOnFace(QPainter& painter) { panels_.DrawAll(painter); }
