#pragma once

#include "FenraCore/ColorScheme.h"

#include <QPalette>

class QWidget;

namespace kelto {

// Which appearance a palette draws. Qt has no colour-scheme setting of its
// own, so the palette decides: dark when its window colour is darker than its
// text, light otherwise (equal lightness included).
struct Appearance {
    static ColorScheme scheme(const QPalette& palette);
    static ColorScheme scheme(const QWidget& widget);
};

}  // namespace kelto
