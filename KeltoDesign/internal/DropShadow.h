#pragma once

#include <QColor>
#include <QMarginsF>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>

#include <functional>

class QPainter;

namespace kelto {

// A soft shadow under what a painter draws: the caster's alpha, blurred by
// the radius (a Gaussian of half the radius as its deviation), moved by the
// offset and filled with the colour. Sizes are in the painter's points.
struct DropShadow {
    QColor color;
    double radius = 0;
    QPointF offset;

    // How far beyond the caster the shadow may reach, on each side.
    QMarginsF reach() const;
    // The shadow of `caster` filled; paints the shadow only.
    void paint(QPainter& painter, const QPainterPath& caster) const;
    // The shadow of what `draw` paints inside `bounds`; paints the shadow only.
    void paint(QPainter& painter, const QRectF& bounds, const std::function<void(QPainter&)>& draw) const;
};

}  // namespace kelto
