#pragma once

#include "KeltoPermissions/LoginItemService.h"
#include "KeltoPermissions/PermissionStatus.h"
#include "Kelto_Sync/Settings/BundleInfo.h"

#include <QString>

#include <functional>
#include <optional>

namespace kelto {

// What the settings window asks of the application around it.
struct SettingsViewActions {
    // Opens the setup checklist, at one item when given.
    std::function<void(const std::optional<QString>& item)> presentSetup;
    // Asks for the notification authorisation; the answer is not used.
    std::function<void(std::function<void(bool granted)>)> requestAuthorization;
    // Runs on a worker thread; by default the Full Disk Access probe over
    // the user's Desktop, Documents and removable-media folders.
    std::function<PermissionStatus()> probeFullDiskAccess = &probeFullDiskAccessDefault;
    LoginItemService loginItem;
    BundleInfo bundle = BundleInfo::application();
    QString licensesFolder = BundleInfo::licensesFolder();

    static PermissionStatus probeFullDiskAccessDefault();
};

}  // namespace kelto
