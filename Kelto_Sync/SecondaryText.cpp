#include "Kelto_Sync/SecondaryText.h"

#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"

namespace kelto {

void SecondaryText::apply(QWidget* widget) { PaletteTone::apply(widget, FenraTheme::textSecondary()); }

}  // namespace kelto
