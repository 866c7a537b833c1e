#include "FenraCore/SurfaceRendering.h"

#include <QtGlobal>

namespace kelto::SurfaceRenderings {

SurfaceRendering resolve(int systemMajorVersion, bool forceLegacy, bool reduceTransparency,
                         const std::optional<QString>& legacyVariable) {
    if (forceLegacy) {
        return reduceTransparency ? SurfaceRendering::solid : SurfaceRendering::material;
    }
    if (reduceTransparency) {
        return SurfaceRendering::solid;
    }
    if (legacyVariable == QStringLiteral("1")) {
        return SurfaceRendering::material;
    }
    if (systemMajorVersion < glassSystemVersion) {
        return SurfaceRendering::material;
    }
    return SurfaceRendering::glass;
}

SurfaceRendering resolve(int systemMajorVersion, bool forceLegacy, bool reduceTransparency) {
    std::optional<QString> legacy;
    if (qEnvironmentVariableIsSet("FENRA_DESIGN_LEGACY")) {
        legacy = qEnvironmentVariable("FENRA_DESIGN_LEGACY");
    }
    return resolve(systemMajorVersion, forceLegacy, reduceTransparency, legacy);
}

bool hasBorder(SurfaceRendering rendering, bool increaseContrast) {
    return rendering == SurfaceRendering::solid || increaseContrast;
}

}  // namespace kelto::SurfaceRenderings
