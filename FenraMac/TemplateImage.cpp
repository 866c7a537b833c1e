#include "FenraMac/TemplateImage.h"

#include "FenraCore/SymbolImage.h"

namespace kelto {

std::optional<TemplateImage> TemplateImage::named(const QString& symbolName, const QString& accessibilityDescription) {
    if (!SymbolImage::hasArtwork(symbolName)) {
        return std::nullopt;
    }
    QIcon icon = SymbolImage::named(symbolName, Qt::black);
    icon.setIsMask(true);
    return TemplateImage{icon, accessibilityDescription};
}

}  // namespace kelto
