#include "FenraCore/FenraColor.h"

#include "FenraCore/Appearance.h"

namespace kelto {

QColor FenraColor::color(const QPalette& palette) const {
    return color(Appearance::scheme(palette));
}

}  // namespace kelto
