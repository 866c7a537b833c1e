#include "FenraCore/SymbolImage.h"

#include "FenraCore/internal/SymbolIconEngine.h"

#include <QFile>

#include <mutex>

// Outside any namespace, as Qt's resource initialiser requires. Naming it
// here also keeps a static link from dropping the compiled-in artwork.
static void initialiseSymbolResources() {
    Q_INIT_RESOURCE(FenraSymbols);
}

namespace kelto {

QString SymbolImage::artworkPath(const QString& symbolName) {
    static std::once_flag resources;
    std::call_once(resources, initialiseSymbolResources);
    return QStringLiteral(":/FenraCore/Symbols/") + symbolName + QStringLiteral(".svg");
}

bool SymbolImage::hasArtwork(const QString& symbolName) {
    return !symbolName.isEmpty() && QFile::exists(artworkPath(symbolName));
}

QIcon SymbolImage::named(const QString& symbolName, const QColor& tint) {
    if (!hasArtwork(symbolName)) {
        return QIcon::fromTheme(symbolName);
    }
    return QIcon(new SymbolIconEngine(symbolName, artworkPath(symbolName), tint));
}

}  // namespace kelto
