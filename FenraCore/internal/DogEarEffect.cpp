#include "FenraCore/internal/DogEarEffect.h"

#include "FenraCore/DogEar.h"
#include "FenraCore/DogEarShape.h"
#include "FenraCore/FenraTheme.h"

#include <QPainter>
#include <QPainterPath>

namespace kelto {
namespace {

QPainterPath triangle(QPointF a, QPointF b, QPointF c) {
    QPainterPath path(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    return path;
}

}  // namespace

DogEarEffect::DogEarEffect(DogEar& owner) : QGraphicsEffect(&owner), owner_(owner) {}

void DogEarEffect::draw(QPainter* painter) {
    QPoint offset;
    const QPixmap source = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    if (source.isNull()) {
        return;
    }
    const QRectF bounds = owner_.rect();
    const double size = owner_.size();
    // Right to left, everything is mirrored about the vertical centre line.
    QTransform mirror;
    if (owner_.layoutDirection() == Qt::RightToLeft) {
        mirror.translate(bounds.center().x(), 0).scale(-1, 1).translate(-bounds.center().x(), 0);
    }

    QImage clipped(source.size(), QImage::Format_ARGB32_Premultiplied);
    clipped.setDevicePixelRatio(source.devicePixelRatio());
    clipped.fill(Qt::transparent);
    {
        QPainter layer(&clipped);
        layer.setRenderHint(QPainter::Antialiasing);
        layer.translate(-offset);
        layer.fillPath(mirror.map(DogEarShape(size, owner_.cornerRadius()).path(bounds)), Qt::black);
        layer.setCompositionMode(QPainter::CompositionMode_SourceIn);
        layer.drawPixmap(offset, source);
    }
    painter->drawImage(offset, clipped);

    // The flap: the half of the corner square below the cut, its half nearer
    // the cut shaded.
    const QPointF corner(bounds.right() - size, bounds.top());
    const QPainterPath flap = triangle(corner, corner + QPointF(0, size), corner + QPointF(size, size));
    const QPainterPath shade = triangle(corner, corner + QPointF(size * 0.5, size), corner + QPointF(size, size));
    const QPalette& palette = owner_.palette();
    // Within the outline of what the ear sits on, when it has one: like the
    // mirrored flap, in the ear's own coordinates.
    const auto within = [this](const QPainterPath& path) {
        return owner_.outline().isEmpty() ? path : path.intersected(owner_.outline());
    };
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillPath(within(mirror.map(flap)), FenraTheme::coral().color(palette));
    painter->fillPath(within(mirror.map(shade)), DogEar::foldShade().color(palette));
    painter->restore();
}

}  // namespace kelto
