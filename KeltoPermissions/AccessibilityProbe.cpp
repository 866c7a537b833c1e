#include "KeltoPermissions/AccessibilityProbe.h"

namespace kelto {

PermissionStatus AccessibilityProbe::status() {
    return PermissionStatus::unverifiable;
}

PermissionStatus AccessibilityProbe::postEventStatus() {
    return PermissionStatus::unverifiable;
}

}  // namespace kelto
