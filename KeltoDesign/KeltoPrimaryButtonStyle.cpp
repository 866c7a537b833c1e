#include "KeltoDesign/KeltoPrimaryButtonStyle.h"

#include "FenraCore/FenraTheme.h"

#include <QPushButton>

namespace kelto {

KeltoPrimaryButtonStyle::KeltoPrimaryButtonStyle()
    : CompactButtonStyle(CompactButtonLook{QFont::DemiBold, &FenraTheme::onAccent(), 28, &FenraTheme::accent(),
                                           &FenraTheme::accent(), 0.85, true}) {}

void KeltoPrimaryButtonStyle::apply(QPushButton& button) {
    auto* style = new KeltoPrimaryButtonStyle;
    style->setParent(&button);
    button.setStyle(style);
}

}  // namespace kelto
