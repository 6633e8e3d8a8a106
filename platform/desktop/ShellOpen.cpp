#include "ShellOpen.h"

#include <QDesktopServices>
#include <QUrl>

namespace {
ShellOpener& Opener() {
    static ShellOpener opener;
    return opener;
}
}  // namespace

void SetShellOpener(ShellOpener opener) { Opener() = std::move(opener); }

void ShellOpen(const QString& url, bool hidden) {
    if (url.isEmpty()) return;
    if (Opener()) {
        Opener()(url, hidden);
        return;
    }
    QDesktopServices::openUrl(QUrl(url, QUrl::TolerantMode));
}
