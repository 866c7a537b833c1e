#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include <vector>

class QWidget;

namespace kelto {

// Body text against what is drawn behind it: every shown, enabled label of
// a window, in the colour its palette gives its text (blended over the
// background where it is translucent), against the colour that fills most
// of the label's rectangle when the window is drawn.
struct TextContrast {
    struct Finding {
        QString label;  // object name, else the text
        double ratio;
    };
    // The labels below `minimum`; the window is shown and laid out first.
    static std::vector<Finding> below(QWidget& window, double minimum = 4.5);
    static QString describe(const std::vector<Finding>& findings);
    // The strongest contrast with `ground` of any pixel in `area`, each blended over `ground`.
    static double strongest(const QImage& image, const QRect& area, const QColor& ground);
};

}  // namespace kelto
