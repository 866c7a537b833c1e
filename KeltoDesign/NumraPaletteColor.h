#pragma once

#include "FenraCore/ColorScheme.h"
#include "FenraCore/FenraColor.h"

#include <QColor>
#include <QString>

class QPalette;

namespace kelto {

// A named colour of the editor palette: in dark appearance a fixed value of
// its own, otherwise a theme colour resolved for the same appearance.
struct NumraPaletteColor {
    QString name;
    const FenraColor* theme;
    RGB dark;

    QColor color(ColorScheme scheme) const;
    // Opaque, for the appearance the palette draws.
    QColor color(const QPalette& palette) const;
};

}  // namespace kelto
