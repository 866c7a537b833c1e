#pragma once

#include "FenraCore/FenraColor.h"
#include "FenraCore/FontRole.h"

#include <QLabel>

namespace kelto {

// Plain, wrapping text in a kit font and, when given, a theme colour that
// follows the appearance of the palette it inherits.
class ToneLabel : public QLabel {
    Q_OBJECT
public:
    ToneLabel(const QString& text, FontRole role, const FenraColor* color = nullptr, QWidget* parent = nullptr);
};

}  // namespace kelto
