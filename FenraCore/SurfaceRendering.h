#pragma once

#include <QString>

#include <optional>

namespace kelto {

// How a surface is painted.
enum class SurfaceRendering { glass, material, solid };

namespace SurfaceRenderings {

// The first system version that draws glass.
inline constexpr int glassSystemVersion = 26;
// No desktop here draws glass, so surfaces resolve as on a system before it.
inline constexpr int hostSystemVersion = 0;

// Reduced transparency always gives solid; a host forcing the legacy look, a
// FENRA_DESIGN_LEGACY of exactly "1" or a system before glass give material;
// otherwise glass. `legacyVariable` is the variable's value, absent when unset.
SurfaceRendering resolve(int systemMajorVersion, bool forceLegacy, bool reduceTransparency,
                         const std::optional<QString>& legacyVariable);
// The same, reading FENRA_DESIGN_LEGACY from the environment now.
SurfaceRendering resolve(int systemMajorVersion, bool forceLegacy, bool reduceTransparency);

// Solid surfaces, and every surface under increased contrast, get a hairline.
bool hasBorder(SurfaceRendering rendering, bool increaseContrast);

}  // namespace SurfaceRenderings

}  // namespace kelto
