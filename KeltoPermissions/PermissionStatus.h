#pragma once

#include "KeltoPermissions/PermissionPresentation.h"

#include <QString>

namespace kelto {

// The probed state of one permission. An item with no status yet reads as
// `checking` wherever a status is shown.
enum class PermissionStatus { checking, granted, missing, denied, needsApproval, restartRequired, unverifiable };

namespace PermissionStatuses {
// The English title, which the views look up in PermissionStrings; only
// checking, granted and missing are worded apart per presentation.
QString title(PermissionStatus status, PermissionPresentation presentation);
}  // namespace PermissionStatuses

}  // namespace kelto
