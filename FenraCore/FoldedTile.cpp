#include "FenraCore/FoldedTile.h"

#include "FenraCore/Contrast.h"
#include "FenraCore/FenraChrome.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraCore/SymbolImage.h"
#include "FenraCore/DevicePixelRatio.h"

#include <QImage>
#include <QPixmap>
#include <QPainter>

#include <cmath>

namespace kelto {
namespace {

// Qt draws circular corners; there is no continuous-curvature corner style.
QPainterPath roundedSquare(double size, double radius, double inset) {
    QPainterPath path;
    path.addRoundedRect(QRectF(inset, inset, size - 2 * inset, size - 2 * inset), radius - inset, radius - inset);
    return path;
}

constexpr double borderWidth = 0.5;

}  // namespace

FoldedTile::Geometry FoldedTile::geometry(double size) {
    const double fold = 13 * size / 56;
    const double k = size / 56;
    Geometry g{0.225 * size, fold, 0.6 * size, roundedSquare(size, 0.225 * size, 0), {}, {}};

    g.foldTriangle.moveTo(size - fold, 0);
    g.foldTriangle.lineTo(size, fold);
    g.foldTriangle.lineTo(size - fold, fold);
    g.foldTriangle.closeSubpath();

    g.crease.moveTo(43 * k, 0);
    g.crease.lineTo(size, 13 * k);
    g.crease.lineTo(size, 12.6 * k);
    g.crease.quadTo(QPointF(size, 0), QPointF(43 * k, 0));
    g.crease.closeSubpath();
    return g;
}

void FoldedTile::paint(QPainter& painter, const QPointF& origin, const QPalette& palette) const {
    if (size <= 0) {
        return;
    }
    const Geometry g = geometry(size);
    const qreal ratio = DevicePixelRatio::of(painter);
    const int pixels = static_cast<int>(std::ceil(size * ratio));

    // Painter clips are not antialiased, so the layers are drawn into an
    // image through the outline's coverage instead.
    QImage tile(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    tile.setDevicePixelRatio(ratio);
    tile.fill(Qt::transparent);
    {
        QPainter layer(&tile);
        layer.setRenderHint(QPainter::Antialiasing);
        layer.fillPath(g.outline, Qt::black);
        layer.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        layer.fillRect(QRectF(0, 0, size, size), TileTints::base(tint).color());
        layer.fillPath(g.foldTriangle, TileTints::shadow(tint).color());
        layer.fillPath(g.crease, TileTints::highlight(tint).color());
        const double inset = (size - g.symbolSize) / 2;
        const int side = static_cast<int>(std::ceil(g.symbolSize));
        const QPixmap symbol = SymbolImage::named(symbolName, TileTints::symbolColor(tint).color())
                                   .pixmap(QSize(side, side), ratio);
        layer.setRenderHint(QPainter::SmoothPixmapTransform);
        layer.drawPixmap(QRectF(inset, inset, g.symbolSize, g.symbolSize), symbol, QRectF(symbol.rect()));
    }
    painter.save();
    painter.drawImage(QRectF(origin, QSizeF(size, size)), tile);
    if (FenraPreferences::shared().increaseContrast()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(origin);
        painter.strokePath(roundedSquare(size, g.cornerRadius, borderWidth / 2),
                           QPen(FenraChrome::separator(palette), borderWidth));
    }
    painter.restore();
}

}  // namespace kelto

namespace kelto {

QPixmap FoldedTile::pixmap(const QPalette& palette, qreal devicePixelRatio) const {
    return pixmap(palette, devicePixelRatio, std::nullopt);
}

std::optional<QColor> FoldedTile::ring(TileTint tint, const QColor& backdrop, const QColor& ink) {
    const auto rgb = [](const QColor& color) {
        const QColor c = color.toRgb();
        return RGB{c.redF(), c.greenF(), c.blueF()};
    };
    if (Contrast::ratio(TileTints::base(tint), rgb(backdrop)) >= 3) return std::nullopt;
    return ink;
}

QPixmap FoldedTile::pixmap(const QPalette& palette, qreal devicePixelRatio, const std::optional<QColor>& ring) const {
    const int side = static_cast<int>(std::ceil(size));
    QPixmap tile(QSize(side, side) * devicePixelRatio);
    tile.setDevicePixelRatio(devicePixelRatio);
    tile.fill(Qt::transparent);
    QPainter painter(&tile);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter, QPointF(0, 0), palette);
    if (ring) paintRing(painter, QPointF(0, 0), *ring);
    return tile;
}

void FoldedTile::paintRing(QPainter& painter, const QPointF& origin, const QColor& ring) const {
    if (size <= 0) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(origin);
    painter.strokePath(roundedSquare(size, geometry(size).cornerRadius, 0.5), QPen(ring, 1));
    painter.restore();
}

}  // namespace kelto
