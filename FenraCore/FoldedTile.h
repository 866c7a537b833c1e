#pragma once

#include "FenraCore/FenraSymbol.h"
#include "FenraCore/TileTint.h"

#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QString>

class QPainter;

namespace kelto {

// A small square icon: a rounded tile in one tint, its top-right corner
// folded over with a highlight along the crease, and a symbol on top. It is
// painted, not a widget, so it has no accessible node of its own: the view
// that shows it gives the label. It looks the same in light and dark
// appearance and never mirrors.
struct FoldedTile {
    QString symbolName;
    TileTint tint = TileTint::cobalt;
    double size = 0;

    FoldedTile(const FenraSymbol auto& symbol, TileTint tint, double size)
        : symbolName(symbolNameOf(symbol)), tint(tint), size(size) {}

    // The figure at side length `size`, origin at the tile's top-left.
    struct Geometry {
        double cornerRadius;
        double fold;
        // Side of the square the symbol is drawn in.
        double symbolSize;
        QPainterPath outline;
        QPainterPath foldTriangle;
        QPainterPath crease;
    };
    static Geometry geometry(double size);

    // Paints the tile with its top-left at `origin`. With increased contrast
    // (the kit preferences) a half-point separator border runs inside the
    // outline; `palette` gives the separator colour.
    void paint(QPainter& painter, const QPointF& origin, const QPalette& palette) const;
    // The tile alone, for a label, at the given device pixel ratio.
    QPixmap pixmap(const QPalette& palette, qreal devicePixelRatio) const;
};

}  // namespace kelto
