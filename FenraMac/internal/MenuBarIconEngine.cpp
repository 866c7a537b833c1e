#include "FenraMac/internal/MenuBarIconEngine.h"

#include "FenraCore/DevicePixelRatio.h"
#include "FenraMac/MenuBarIcon.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace kelto {

MenuBarIconEngine::MenuBarIconEngine(TemplateMark mark, MenuBarIconState state)
    : mark_(std::move(mark)), state_(state) {}

QImage MenuBarIconEngine::render(const QSize& pixels) const {
    QImage image(pixels.expandedTo(QSize(0, 0)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (pixels.isEmpty()) {
        return image;
    }
    const double scale = std::min(pixels.width(), pixels.height()) / MenuBarIcon::side;
    QPainter painter(&image);
    painter.translate((pixels.width() - MenuBarIcon::side * scale) / 2, (pixels.height() - MenuBarIcon::side * scale) / 2);
    painter.scale(scale, scale);
    MenuBarIcon::draw(&painter, mark_, state_);
    return image;
}

void MenuBarIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) {
    const qreal ratio = DevicePixelRatio::of(*painter);
    QImage image = render(QSize(static_cast<int>(std::ceil(rect.width() * ratio)),
                                static_cast<int>(std::ceil(rect.height() * ratio))));
    image.setDevicePixelRatio(ratio);
    painter->drawImage(rect, image);
}

QPixmap MenuBarIconEngine::pixmap(const QSize& size, QIcon::Mode, QIcon::State) {
    return QPixmap::fromImage(render(size));
}

QPixmap MenuBarIconEngine::scaledPixmap(const QSize& size, QIcon::Mode, QIcon::State, qreal scale) {
    // `size` is already in device pixels.
    QPixmap pixmap = QPixmap::fromImage(render(size));
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

QList<QSize> MenuBarIconEngine::availableSizes(QIcon::Mode, QIcon::State) {
    const int side = static_cast<int>(MenuBarIcon::side);
    return {QSize(side, side)};
}

QIconEngine* MenuBarIconEngine::clone() const {
    return new MenuBarIconEngine(mark_, state_);
}

QString MenuBarIconEngine::key() const {
    return QStringLiteral("kelto.menuBarIcon");
}

}  // namespace kelto
