#pragma once

#include <functional>

#include <QString>

// Opens an address in the default browser, as the links and buttons of the broadcaster's
// windows do. `hidden` marks the pages opened without showing a window on the platforms that
// have such a start (the member centre and room pages); the desktop's browser ignores it. A
// failure to start the browser is not reported.
void ShellOpen(const QString& url, bool hidden = false);

// Replaces the browser start, for tests that check which address a link asks for; an empty
// opener restores the browser.
using ShellOpener = std::function<void(const QString& url, bool hidden)>;
void SetShellOpener(ShellOpener opener);
