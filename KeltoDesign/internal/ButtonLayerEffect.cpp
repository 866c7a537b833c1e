#include "KeltoDesign/internal/ButtonLayerEffect.h"

#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <cmath>

namespace kelto {

ButtonLayerEffect::ButtonLayerEffect(QWidget& button, std::optional<DropShadow> shadow, double cornerRadius,
                                     double disabledOpacity)
    : QGraphicsEffect(&button),
      button_(button),
      shadow_(std::move(shadow)),
      cornerRadius_(cornerRadius),
      disabledOpacity_(disabledOpacity) {}

QRectF ButtonLayerEffect::boundingRectFor(const QRectF& rect) const {
    return shadow_ ? rect.marginsAdded(shadow_->reach()) : rect;
}

void ButtonLayerEffect::draw(QPainter* painter) {
    QPoint offset;
    const QPixmap source = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    if (source.isNull()) {
        return;
    }
    const QRectF area = boundingRect();
    const qreal ratio = source.devicePixelRatio();
    QImage layer(static_cast<int>(std::ceil(area.width() * ratio)), static_cast<int>(std::ceil(area.height() * ratio)),
                 QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    {
        QPainter composer(&layer);
        composer.translate(-area.topLeft());
        if (shadow_) {
            QPainterPath shape;
            shape.addRoundedRect(sourceBoundingRect(), cornerRadius_, cornerRadius_);
            shadow_->paint(composer, shape);
        }
        composer.drawPixmap(offset, source);
    }
    painter->save();
    if (!button_.isEnabled()) {
        painter->setOpacity(painter->opacity() * disabledOpacity_);
    }
    painter->drawImage(area.topLeft(), layer);
    painter->restore();
}

}  // namespace kelto
