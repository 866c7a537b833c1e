#include "KeltoDesign/internal/FocusRingEffect.h"

#include "FenraCore/FenraTheme.h"

#include <QPainter>
#include <QWidget>

namespace kelto {

FocusRingEffect::FocusRingEffect(QWidget& field, double width, double cornerRadius)
    : QGraphicsEffect(&field), field_(field), width_(width), cornerRadius_(cornerRadius) {}

QRectF FocusRingEffect::boundingRectFor(const QRectF& rect) const {
    return rect.adjusted(-width_, -width_, width_, width_);
}

void FocusRingEffect::draw(QPainter* painter) {
    QPoint offset;
    const QPixmap source = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    if (source.isNull()) {
        return;
    }
    painter->drawPixmap(offset, source);
    if (!field_.hasFocus()) {
        return;
    }
    QColor ring = FenraTheme::tint().color(field_.palette());
    ring.setAlphaF(0.25F);
    // A line centred half its width outside the edge covers the band.
    const double half = width_ / 2;
    const QRectF edge(offset, QSizeF(source.size()) / source.devicePixelRatio());
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(ring, width_));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(edge.adjusted(-half, -half, half, half), cornerRadius_, cornerRadius_);
    painter->restore();
}

}  // namespace kelto
