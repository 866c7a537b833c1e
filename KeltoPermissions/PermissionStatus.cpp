#include "KeltoPermissions/PermissionStatus.h"

namespace kelto::PermissionStatuses {

QString title(PermissionStatus status, PermissionPresentation presentation) {
    const bool setting = presentation == PermissionPresentation::setting;
    switch (status) {
    case PermissionStatus::checking: return QStringLiteral("Checking…");
    case PermissionStatus::granted: return setting ? QStringLiteral("On") : QStringLiteral("Allowed");
    case PermissionStatus::missing: return setting ? QStringLiteral("Off") : QStringLiteral("Not allowed");
    case PermissionStatus::denied: return QStringLiteral("Turned off in System Settings");
    case PermissionStatus::needsApproval: return QStringLiteral("Needs approval");
    case PermissionStatus::restartRequired: return QStringLiteral("Restart needed");
    case PermissionStatus::unverifiable: return QStringLiteral("Can't verify");
    }
    return QStringLiteral("Can't verify");
}

}  // namespace kelto::PermissionStatuses
