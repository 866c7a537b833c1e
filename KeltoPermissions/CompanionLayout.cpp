#include "KeltoPermissions/CompanionLayout.h"

#include <algorithm>

namespace kelto {

QRectF CompanionLayout::frame(const QRectF& beside, const QRectF& visibleFrame, const QSizeF& size, qreal gap) {
    const qreal w = std::min(visibleFrame.width(), size.width());
    const qreal h = std::min(visibleFrame.height(), size.height());
    const qreal right = beside.right() + gap;
    qreal x = right + w <= visibleFrame.right() ? right : beside.left() - gap - w;
    qreal y = beside.top();
    x = std::min(visibleFrame.right() - w, std::max(visibleFrame.left(), x));
    y = std::min(visibleFrame.bottom() - h, std::max(visibleFrame.top(), y));
    return {x, y, w, h};
}

QRectF CompanionLayout::fallback(const QRectF& visibleFrame, const QSizeF& size, qreal gap) {
    const qreal w = std::min(visibleFrame.width(), size.width());
    const qreal h = std::min(visibleFrame.height(), size.height());
    return {std::max(visibleFrame.left(), visibleFrame.right() - gap - w), visibleFrame.center().y() - h * 0.5, w, h};
}

}  // namespace kelto
