#pragma once

#include "KeltoDesign/internal/CompactButtonStyle.h"

class QPushButton;

namespace kelto {

// The filled call to action: a semibold label on the accent colour, 28
// points high, with a faint shadow; the fill lightens while pressed.
class KeltoPrimaryButtonStyle : public CompactButtonStyle {
    Q_OBJECT

public:
    KeltoPrimaryButtonStyle();

    // Gives the button a style of its own, which goes with it.
    static void apply(QPushButton& button);
};

}  // namespace kelto
