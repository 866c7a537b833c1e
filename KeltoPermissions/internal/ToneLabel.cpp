#include "KeltoPermissions/internal/ToneLabel.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/PaletteTone.h"

namespace kelto {

ToneLabel::ToneLabel(const QString& text, FontRole role, const FenraColor* color, QWidget* parent)
    : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setFont(FenraFont::font(role));
    if (color != nullptr) PaletteTone::apply(this, *color);
}

}  // namespace kelto
