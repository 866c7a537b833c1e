#include "Platform/Desktop/DesktopKind.h"

#include <QStringList>
#include <QtGlobal>

namespace kelto::DesktopKinds {

DesktopKind fromCurrentDesktop(const QString& currentDesktop) {
    for (const QString& name : currentDesktop.split(u':', Qt::SkipEmptyParts)) {
        const QString lower = name.trimmed().toLower();
        if (lower == u"gnome") return DesktopKind::gnome;
        if (lower == u"kde") return DesktopKind::kde;
        if (lower == u"xfce") return DesktopKind::xfce;
    }
    return DesktopKind::other;
}

DesktopKind current() {
    return fromCurrentDesktop(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
}

}  // namespace kelto::DesktopKinds
