#include "FenraCore/InsettableShape.h"

#include <algorithm>

namespace kelto {
namespace {

QRectF insetRect(const QRectF& rect, double inset) {
    return rect.adjusted(inset, inset, -inset, -inset);
}

}  // namespace

InsettableShape InsettableShape::rectangle() {
    return InsettableShape{[](const QRectF& rect, double inset) {
        QPainterPath path;
        const QRectF r = insetRect(rect, inset);
        if (r.width() > 0 && r.height() > 0) {
            path.addRect(r);
        }
        return path;
    }};
}

InsettableShape InsettableShape::roundedRectangle(double cornerRadius) {
    return InsettableShape{[cornerRadius](const QRectF& rect, double inset) {
        QPainterPath path;
        const QRectF r = insetRect(rect, inset);
        if (r.width() > 0 && r.height() > 0) {
            const double radius = std::max(cornerRadius - inset, 0.0);
            path.addRoundedRect(r, radius, radius);
        }
        return path;
    }};
}

InsettableShape InsettableShape::capsule() {
    return InsettableShape{[](const QRectF& rect, double inset) {
        QPainterPath path;
        const QRectF r = insetRect(rect, inset);
        if (r.width() > 0 && r.height() > 0) {
            const double radius = std::min(r.width(), r.height()) / 2;
            path.addRoundedRect(r, radius, radius);
        }
        return path;
    }};
}

}  // namespace kelto
