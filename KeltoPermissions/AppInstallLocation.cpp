#include "KeltoPermissions/AppInstallLocation.h"

#include <sys/statvfs.h>

namespace kelto {

AppInstallLocation AppInstallLocation::detect(const std::filesystem::path& bundle) {
    struct statvfs volume {};
    const bool readOnly = ::statvfs(bundle.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0;
    return detect(bundle, readOnly);
}

AppInstallLocation AppInstallLocation::detect(const std::filesystem::path& bundle, bool volumeIsReadOnly) {
    for (const auto& component : bundle) {
        if (component == "AppTranslocation") return {Kind::translocated};
    }
    return {volumeIsReadOnly ? Kind::readOnlyVolume : Kind::normal};
}

}  // namespace kelto
