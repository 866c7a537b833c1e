#pragma once

#include "KeltoPermissions/LoginItem.h"
#include "KeltoPermissions/PermissionItem.h"
#include "KeltoPermissions/PermissionRequirement.h"
#include "KeltoPermissions/PermissionStrings.h"

#include <QString>

#include <optional>

namespace kelto {

// Ready-made items for Full Disk Access, the login item and notifications.
struct PermissionItems {
    // Nothing on Linux grants it, so it has no destination; the user may
    // confirm it by hand. Its check reads the files on a worker thread.
    static PermissionItem fullDiskAccess(const QString& detail, PermissionRequirement requirement,
                                         const PermissionStrings& strings);
    // Checked and requested through the autostart entry; a check that finds
    // the entry's program gone, or a request that fails, leaves its message
    // in the item's request state.
    static PermissionItem loginItem(const QString& detail, PermissionRequirement requirement,
                                    const PermissionStrings& strings, std::optional<QString> ctaTitle = std::nullopt,
                                    const LoginItem& item = LoginItem::current());
    // `bundleIdentifier` is the application's desktop file id.
    static PermissionItem notifications(const QString& bundleIdentifier, const QString& detail,
                                        PermissionRequirement requirement, const PermissionStrings& strings);
};

}  // namespace kelto
