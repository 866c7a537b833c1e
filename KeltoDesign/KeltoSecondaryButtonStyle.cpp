#include "KeltoDesign/KeltoSecondaryButtonStyle.h"

#include "FenraCore/FenraTheme.h"

#include <QPushButton>

namespace kelto {

KeltoSecondaryButtonStyle::KeltoSecondaryButtonStyle()
    : CompactButtonStyle(CompactButtonLook{QFont::Medium, &FenraTheme::textPrimary(), 26, &FenraTheme::stroke(),
                                           &FenraTheme::textTertiary(), 1.0, false}) {}

void KeltoSecondaryButtonStyle::apply(QPushButton& button) {
    auto* style = new KeltoSecondaryButtonStyle;
    style->setParent(&button);
    button.setStyle(style);
}

}  // namespace kelto
