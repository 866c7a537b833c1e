#include "FenraCore/FenraChrome.h"

namespace kelto {

// Qt has no separator role; Mid is what frames and lines are drawn with.
QColor FenraChrome::separator(const QPalette& palette) {
    return palette.color(QPalette::Mid);
}

QColor FenraChrome::windowBackground(const QPalette& palette) {
    return palette.color(QPalette::Window);
}

}  // namespace kelto
