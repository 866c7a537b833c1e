#pragma once

#include "KeltoPermissions/LoginItem.h"
#include "KeltoPermissions/LoginItemState.h"
#include "KeltoPermissions/PermissionStatus.h"

namespace kelto {

struct LoginItemProbe {
    static LoginItemState state(const LoginItem& item);
    static PermissionStatus permissionStatus(LoginItemState state);
    // Writes an enabled entry for the item; throws AutostartEntryError.
    static void registerItem(const LoginItem& item);
};

}  // namespace kelto
