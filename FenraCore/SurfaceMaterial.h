#pragma once

#include "FenraCore/ColorScheme.h"
#include "FenraCore/FenraSurface.h"

#include <QColor>
#include <QPalette>

namespace kelto {

// The backdrop of a material surface. Nothing blurs here, so a material is
// the window colour drawn slightly towards the text colour, more for the
// thicker ones; opaque, so what lies behind never shows through unblurred.
enum class SurfaceMaterial { regular, thick, ultraThick, bar };

namespace SurfaceMaterials {
SurfaceMaterial of(FenraSurface role, ColorScheme scheme);
QColor color(SurfaceMaterial material, const QPalette& palette);
}  // namespace SurfaceMaterials

}  // namespace kelto
