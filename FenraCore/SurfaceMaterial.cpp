#include "FenraCore/SurfaceMaterial.h"

namespace kelto::SurfaceMaterials {
namespace {

// How far each material moves the window colour towards the text colour.
double weightOf(SurfaceMaterial material) {
    switch (material) {
    case SurfaceMaterial::regular: return 0.03;
    case SurfaceMaterial::bar: return 0.05;
    case SurfaceMaterial::thick: return 0.07;
    case SurfaceMaterial::ultraThick: return 0.10;
    }
    return 0;
}

float mix(float from, float to, double weight) {
    return static_cast<float>(from + (to - from) * weight);
}

}  // namespace

SurfaceMaterial of(FenraSurface role, ColorScheme scheme) {
    switch (role) {
    case FenraSurface::panel:
    case FenraSurface::popover:
        return SurfaceMaterial::regular;
    case FenraSurface::hud:
        return scheme == ColorScheme::dark ? SurfaceMaterial::ultraThick : SurfaceMaterial::thick;
    case FenraSurface::toolbarCapsule:
        return SurfaceMaterial::bar;
    }
    return SurfaceMaterial::regular;
}

QColor color(SurfaceMaterial material, const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window).toRgb();
    const QColor text = palette.color(QPalette::WindowText).toRgb();
    const double weight = weightOf(material);
    return QColor::fromRgbF(mix(window.redF(), text.redF(), weight), mix(window.greenF(), text.greenF(), weight),
                            mix(window.blueF(), text.blueF(), weight), 1.0f);
}

}  // namespace kelto::SurfaceMaterials
