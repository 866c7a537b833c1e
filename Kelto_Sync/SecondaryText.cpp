#include "Kelto_Sync/SecondaryText.h"

#include "FenraCore/FenraTheme.h"
#include "Kelto_Sync/internal/TextTone.h"

namespace kelto {

void SecondaryText::apply(QWidget* widget) { TextTone::apply(widget, FenraTheme::textSecondary()); }

}  // namespace kelto
