#include "KeltoDesign/KeltoAppIcon.h"

#include "FenraCore/FenraTheme.h"
#include "KeltoDesign/KeltoLogo.h"
#include "KeltoDesign/internal/Decoration.h"
#include "KeltoDesign/internal/DropShadow.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace kelto {
namespace {

QRectF centredSquare(const QRectF& canvas, double side) {
    return QRectF(canvas.center().x() - side / 2, canvas.center().y() - side / 2, side, side);
}

}  // namespace

KeltoAppIcon::KeltoAppIcon(QWidget* parent) : QWidget(parent) {
    Decoration::adopt(*this);
}

void KeltoAppIcon::paint(QPainter& painter, const QRectF& canvas, const QPalette& palette) {
    const double side = std::min(canvas.width(), canvas.height());
    if (side <= 0) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF tileRect = centredSquare(canvas, 0.824 * side);
    QPainterPath tile;
    tile.addRoundedRect(tileRect, 0.185 * side, 0.185 * side);
    DropShadow{QColor::fromRgbF(0, 0, 0, 0.14F), 0.018 * side, QPointF(0, 0.012 * side)}.paint(painter, tile);
    painter.fillPath(tile, FenraTheme::background().color(palette));

    const QRectF logoRect = centredSquare(canvas, 0.66 * side);
    const QColor ink = palette.color(QPalette::WindowText);
    DropShadow{QColor::fromRgbF(0, 0, 0, 0.09F), 0.009 * side, QPointF(0, 0.006 * side)}.paint(
        painter, logoRect, [&](QPainter& layer) { KeltoLogo::paint(layer, logoRect, KeltoLogo::Style::color, ink); });
    KeltoLogo::paint(painter, logoRect, KeltoLogo::Style::color, ink);
    painter.restore();
}

void KeltoAppIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, QRectF(rect()), palette());
}

}  // namespace kelto
