#include "FenraCore/DogEarShape.h"

#include <algorithm>

namespace kelto {
namespace {

// 2 − √2: moving a 45-degree cut inwards by d shortens it by this much per unit.
constexpr double cutInsetFactor = 0.5857864376269049;

}  // namespace

DogEarShape DogEarShape::inset(double amount) const {
    DogEarShape copy = *this;
    copy.insetAmount_ += amount;
    return copy;
}

QPainterPath DogEarShape::path(const QRectF& rect) const {
    const QRectF r = rect.adjusted(insetAmount_, insetAmount_, -insetAmount_, -insetAmount_);
    QPainterPath outline;
    if (r.width() <= 0 || r.height() <= 0) {
        return outline;
    }
    const double shorter = std::min(r.width(), r.height());
    const double radius = std::min(shorter * 0.5, std::max(cornerRadius - insetAmount_, 0.0));
    const double fold = std::min(shorter, std::max(size - cutInsetFactor * insetAmount_, 0.0));

    outline.moveTo(r.left() + radius, r.top());
    outline.lineTo(r.right() - fold, r.top());
    outline.lineTo(r.right(), r.top() + fold);
    outline.lineTo(r.right(), r.bottom() - radius);
    outline.quadTo(r.bottomRight(), QPointF(r.right() - radius, r.bottom()));
    outline.lineTo(r.left() + radius, r.bottom());
    outline.quadTo(r.bottomLeft(), QPointF(r.left(), r.bottom() - radius));
    outline.lineTo(r.left(), r.top() + radius);
    outline.quadTo(r.topLeft(), QPointF(r.left() + radius, r.top()));
    outline.closeSubpath();
    return outline;
}

}  // namespace kelto
