#include "KeltoDesign/NumraPaletteColor.h"

#include "FenraCore/Appearance.h"

namespace kelto {

QColor NumraPaletteColor::color(ColorScheme scheme) const {
    return scheme == ColorScheme::dark ? dark.color() : theme->color(scheme);
}

QColor NumraPaletteColor::color(const QPalette& palette) const {
    return color(Appearance::scheme(palette));
}

}  // namespace kelto
