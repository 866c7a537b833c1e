#pragma once

#include <QPainterPath>
#include <QRectF>

#include <functional>

namespace kelto {

// The outline of a surface, which can also be drawn a given distance inside
// itself (for borders stroked inside the edge).
struct InsettableShape {
    std::function<QPainterPath(const QRectF& rect, double inset)> outline;

    QPainterPath path(const QRectF& rect, double inset = 0) const { return outline(rect, inset); }

    static InsettableShape rectangle();
    // Circular corners: Qt has no continuous-curvature corner style.
    static InsettableShape roundedRectangle(double cornerRadius);
    static InsettableShape capsule();
};

}  // namespace kelto
