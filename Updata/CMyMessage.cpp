#include "CMyMessage.h"

namespace {
constexpr int kMessageTemplateId = 131;

// The updater's font, built without a style hint: where 新宋体 is missing, fontconfig picks the
// same stand-in it always has for the updater.
QFont MessageFont() {
    QFont font;
    font.setFamily(QStringLiteral("新宋体"));
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    return font;
}

// Its text panel reaches one pixel further right and down than the broadcaster's: (20, 80) to
// (295, 93) with both corners inside.
constexpr QRect kMessageRect{QPoint(20, 80), QPoint(295, 93)};
}  // namespace

CMyMessage::CMyMessage(QWidget* parent)
    : CSkinnedMessageBox(kMessageTemplateId, Buttons::kOk, MessageFont(), kMessageRect, parent) {
    setWindowTitle(QStringLiteral("STRIMO直播"));
}

int CMyMessage::Show(QWidget* parent, const QString& text) {
    CMyMessage box(parent);
    box.SetMessage(text);
    box.exec();
    return 1;
}

bool CMyMessage::PreTranslateMessage(QObject* target, QEvent* event) {
    return PreTranslateKeyPresses(target, event);
}
