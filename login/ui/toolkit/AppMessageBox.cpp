#include "AppMessageBox.h"

#include <QMessageBox>

namespace {
SkinnedMessageHandler& Handler() {
    static SkinnedMessageHandler handler;
    return handler;
}
}  // namespace

void SetSkinnedMessageHandler(SkinnedMessageHandler handler) { Handler() = std::move(handler); }

int AppMessageBox(QWidget* parent, const QString& text, unsigned style) {
    if (style == kSkinnedMessageStyle && Handler()) return Handler()(parent, text);
    QMessageBox::information(parent, QStringLiteral("STRIMO直播"), text);
    return 1;
}
