#include "CMyMessage.h"

#include <QKeyEvent>

#include "CImageButton.h"

namespace {
constexpr int kTemplateId = 131;
}

CMyMessage::CMyMessage(QWidget* parent) : CDlgParent(kTemplateId, parent), ok_(new CImageButton(this)) {
    font_.setFamily(QStringLiteral("新宋体"));
    font_.setPixelSize(12);
    font_.setWeight(QFont::Normal);
    messagePanel_.Init(0, QString(), QRect(QPoint(20, 80), QPoint(295, 93)), Qt::black);
    panels_.Add(&messagePanel_);
    panels_.SetFont(&font_);

    SetFixedSizeCentred(295, 193);
    setWindowTitle(QStringLiteral("STRIMO直播"));
    SetFacePath(QStringLiteral("res/my_message.png"));
    ok_->setGeometry(220, 161, 65, 22);
    ok_->LoadPictures(QStringLiteral("res/bg_ok_normal.png"), QStringLiteral("res/bg_ok_select.png"));
    connect(ok_, &QAbstractButton::clicked, this, &QDialog::accept);
}

int CMyMessage::Show(QWidget* parent, const QString& text) {
    CMyMessage box(parent);
    box.SetMessage(text);
    box.exec();
    return 1;
}

bool CMyMessage::PreTranslateMessage(QObject* target, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    }
    return CDlgParent::PreTranslateMessage(target, event);
}

void CMyMessage::DrawOnFace(QPainter& painter) { panels_.DrawAll(painter); }
