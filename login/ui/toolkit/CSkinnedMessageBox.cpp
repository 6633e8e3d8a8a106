#include "CSkinnedMessageBox.h"

#include "CImageButton.h"

CSkinnedMessageBox::CSkinnedMessageBox(int templateId, Buttons buttons, const QFont& font, const QRect& textRect,
                                       QWidget* parent)
    : CDlgParent(templateId, parent), font_(font) {
    SetFixedSizeCentred(kWidth, kHeight);
    SetFacePath(QStringLiteral("res/my_message.png"));
    const bool withCancel = buttons == Buttons::kOkCancel;
    ok_ = new CImageButton(this);
    ok_->setGeometry(withCancel ? kLeftButton : kRightButton);
    ok_->LoadPictures(QStringLiteral("res/bg_ok_normal.png"), QStringLiteral("res/bg_ok_select.png"));
    connect(ok_, &CImageButton::clicked, this, [this] {
        result_ = 1;
        done(kOkAnswer);
    });
    if (withCancel) {
        cancel_ = new CImageButton(this);
        cancel_->setGeometry(kRightButton);
        cancel_->LoadPictures(QStringLiteral("res/bg_cancel_normal.png"), QStringLiteral("res/bg_cancel_select.png"));
        connect(cancel_, &CImageButton::clicked, this, [this] {
            result_ = 0;
            done(kCancelAnswer);
        });
    }
    text_.Init(0, QString(), textRect);
    panels_.Add(&text_);
    panels_.SetFont(&font_);
}

CSkinnedMessageBox::~CSkinnedMessageBox() = default;

void CSkinnedMessageBox::SetText(const QString& text) {
    text_.SetText(text);
    update();
}

bool CSkinnedMessageBox::PreTranslateMessage(QObject* target, QEvent* event) {
    return PreTranslateSkinnedWindow(target, event);
}

void CSkinnedMessageBox::DrawOnFace(QPainter& painter) { panels_.DrawAll(painter); }
