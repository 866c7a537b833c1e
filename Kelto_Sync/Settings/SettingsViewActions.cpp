#include "Kelto_Sync/Settings/SettingsViewActions.h"

#include "KeltoPermissions/FullDiskAccessProbe.h"

namespace kelto {

PermissionStatus SettingsViewActions::probeFullDiskAccessDefault() {
    // Linux keeps no privacy database: only the folders tell.
    return FullDiskAccessProbe::status(std::nullopt, FullDiskAccessProbe::defaultDirectories());
}

}  // namespace kelto
