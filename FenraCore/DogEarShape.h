#pragma once

#include <QPainterPath>
#include <QRectF>

namespace kelto {

// A rounded rectangle whose top-right corner is cut off at 45 degrees, like
// a folded page corner. The three rounded corners are single quadratic
// curves with the rectangle's corner as control point.
struct DogEarShape {
    // How far the fold runs along each edge it cuts, before insetting.
    double size = 0;
    double cornerRadius = 0;

    DogEarShape(double size, double cornerRadius) : size(size), cornerRadius(cornerRadius) {}

    double insetAmount() const { return insetAmount_; }
    // A copy drawn that much further inside (negative: outside), with the cut
    // kept parallel to the outer one; for strokes inside the edge.
    DogEarShape inset(double amount) const;

    // The outline in `rect`, y growing downward; empty when the inset
    // rectangle has no area.
    QPainterPath path(const QRectF& rect) const;

private:
    double insetAmount_ = 0;
};

}  // namespace kelto
