#pragma once

#include <QFont>

namespace kelto {

// The fonts of a calculating text editor, each made once on first use from
// the kit's font roles and shared after that.
struct NumraTypography {
    // 13-point text, regular.
    static const QFont& body();
    // 11-point text, regular.
    static const QFont& footer();
    // 13-point semibold with digits of equal width.
    static const QFont& total();
    // The fixed-pitch editing font at 15 points: regular, semibold, medium.
    static const QFont& editor();
    static const QFont& editorSemibold();
    static const QFont& editorMedium();
    // 12-point figures with digits of equal width: regular and medium.
    static const QFont& figures();
    static const QFont& figuresMedium();
    // 13-point text, semibold.
    static const QFont& bodySemibold();
};

}  // namespace kelto
