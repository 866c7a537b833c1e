#pragma once

#include "FenraCore/FontRole.h"

#include <QFont>

namespace kelto {

// Every font the kit sets comes from here. A size in points is taken as
// device-independent pixels, so text has the same size on every screen
// whatever the desktop's font DPI; the family is the application font's.
struct FenraFont {
    static QFont font(double points, QFont::Weight weight = QFont::Normal);
    static QFont font(FontRole role);
    // For figures that must not shift as they change: the application font
    // when its digits share one advance, else the system's fixed-pitch font.
    static QFont monospacedDigits(double points, QFont::Weight weight = QFont::Normal);
    static bool hasUniformDigits(const QFont& font);
    // The system's fixed-pitch font, for text whose every character must
    // take the same advance.
    static QFont monospaced(double points, QFont::Weight weight = QFont::Normal);
};

}  // namespace kelto
