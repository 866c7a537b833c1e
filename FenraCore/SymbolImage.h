#pragma once

#include "FenraCore/FenraSymbol.h"

#include <QColor>
#include <QIcon>
#include <QString>

namespace kelto {

// A symbol as an icon: the kit's artwork for the name, drawn at whatever size
// and pixel ratio it is asked for, in one tint (hierarchical symbols have a
// single colour here). A name without artwork falls back to the desktop's
// icon theme, untinted.
struct SymbolImage {
    static QIcon icon(const FenraSymbol auto& symbol, const QColor& tint) {
        return named(symbolNameOf(symbol), tint);
    }
    static QIcon named(const QString& symbolName, const QColor& tint);
    // Whether the kit ships artwork for the name.
    static bool hasArtwork(const QString& symbolName);
    // The resource path of the artwork for the name.
    static QString artworkPath(const QString& symbolName);
};

}  // namespace kelto
