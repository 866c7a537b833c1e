#pragma once

#include "KeltoPermissions/PermissionStatus.h"

namespace kelto {

// Linux grants no per-application accessibility trust that a program could
// ask about: both answers are unverifiable.
struct AccessibilityProbe {
    static PermissionStatus status();
    static PermissionStatus postEventStatus();
};

}  // namespace kelto
