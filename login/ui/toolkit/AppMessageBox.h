#pragma once

#include <functional>

#include <QString>

class QWidget;

// Every user-visible failure of both programs is a modal message box raised with the programs'
// own style value; the application object routes that style to its skinned box (CDlgMessage in
// the broadcaster, CMyMessage in the updater). Any other style, or no routing installed, shows
// the platform's standard box.
inline constexpr unsigned kSkinnedMessageStyle = 0x10000000;

using SkinnedMessageHandler = std::function<int(QWidget* parent, const QString& text)>;

// Installed once by the application object; an empty handler removes the routing.
void SetSkinnedMessageHandler(SkinnedMessageHandler handler);

// Shows `text` modally and returns the box's answer (1 for OK).
int AppMessageBox(QWidget* parent, const QString& text, unsigned style = kSkinnedMessageStyle);
