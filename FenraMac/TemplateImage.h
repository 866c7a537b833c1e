#pragma once

#include "FenraCore/FenraSymbol.h"

#include <QIcon>
#include <QString>

#include <optional>

namespace kelto {

// A picture of which only the alpha counts: its icon is marked as a mask and
// drawn in black, for whoever shows it to colour (the tray does so for its
// panel's text colour). The description is what assistive technology reads.
struct TemplateImage {
    QIcon icon;
    QString accessibilityDescription;

    // The kit's artwork of the symbol as a mask, or nothing when the kit has
    // no artwork of that name (the desktop's icon theme is not asked).
    static std::optional<TemplateImage> symbol(const FenraSymbol auto& symbol,
                                               const QString& accessibilityDescription = {}) {
        return named(symbolNameOf(symbol), accessibilityDescription);
    }
    static std::optional<TemplateImage> named(const QString& symbolName, const QString& accessibilityDescription = {});
};

}  // namespace kelto
