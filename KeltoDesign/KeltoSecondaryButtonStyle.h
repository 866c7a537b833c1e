#pragma once

#include "KeltoDesign/internal/CompactButtonStyle.h"

class QPushButton;

namespace kelto {

// The quieter button: a medium label on the stroke colour, 26 points high,
// without shadow; the fill darkens to the tertiary text colour while pressed.
class KeltoSecondaryButtonStyle : public CompactButtonStyle {
    Q_OBJECT

public:
    KeltoSecondaryButtonStyle();

    // Gives the button a style of its own, which goes with it.
    static void apply(QPushButton& button);
};

}  // namespace kelto
