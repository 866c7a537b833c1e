#include "FenraCore/Appearance.h"

#include "FenraCore/Contrast.h"

#include <QWidget>

namespace kelto {
namespace {

double luminanceOf(const QColor& color) {
    const QColor rgb = color.toRgb();
    return Contrast::luminance(RGB{rgb.redF(), rgb.greenF(), rgb.blueF()});
}

}  // namespace

ColorScheme Appearance::scheme(const QPalette& palette) {
    const double window = luminanceOf(palette.color(QPalette::Window));
    const double text = luminanceOf(palette.color(QPalette::WindowText));
    return window < text ? ColorScheme::dark : ColorScheme::light;
}

ColorScheme Appearance::scheme(const QWidget& widget) {
    return scheme(widget.palette());
}

}  // namespace kelto
