#include "SkinResources.h"

#include <QtCore/qglobal.h>

static void RegisterSkinResources() {
    // Outside any namespace: the macro declares the generated function at its call site.
    Q_INIT_RESOURCE(skin);
}

namespace SkinResources {

void Init() {
    static const bool registered = [] {
        RegisterSkinResources();
        return true;
    }();
    (void)registered;
}

QString Path(const QString& type, int id) {
    Init();
    return QStringLiteral(":/%1/%2").arg(type).arg(id);
}

}  // namespace SkinResources
