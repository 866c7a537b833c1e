#pragma once

#include "FenraCore/FenraSymbol.h"
#include "FenraCore/TileTint.h"

#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QString>

#include <optional>

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

    // On a backdrop its tint does not stand out from by 3:1 (a selection in
    // the accent, say), a tile is ringed in `ink`, the colour of the text on
    // that backdrop; otherwise it needs no ring.
    static std::optional<QColor> ring(TileTint tint, const QColor& backdrop, const QColor& ink);
    // The tile with a one-pixel ring inside its outline, when it has one.
    QPixmap pixmap(const QPalette& palette, qreal devicePixelRatio, const std::optional<QColor>& ring) const;
    // That ring alone, around a tile painted at `origin`.
    void paintRing(QPainter& painter, const QPointF& origin, const QColor& ring) const;
};

}  // namespace kelto
