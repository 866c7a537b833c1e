#include "FenraCore/internal/SymbolIconEngine.h"

#include "FenraCore/DevicePixelRatio.h"

#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace kelto {
namespace {

constexpr double disabledOpacity = 0.4;

}  // namespace

SymbolIconEngine::SymbolIconEngine(QString symbolName, QString artworkPath, QColor tint)
    : symbolName_(std::move(symbolName)),
      artworkPath_(std::move(artworkPath)),
      tint_(tint),
      renderer_(std::make_unique<QSvgRenderer>(artworkPath_)) {
    renderer_->setAspectRatioMode(Qt::KeepAspectRatio);
}

QImage SymbolIconEngine::render(const QSize& pixels, QIcon::Mode mode) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (pixels.isEmpty() || !renderer_->isValid()) {
        return image;
    }
    QPainter painter(&image);
    renderer_->render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
    // The artwork's own colours only shape the mask; the tint colours it.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    QColor tint = tint_;
    if (mode == QIcon::Disabled) {
        tint.setAlphaF(static_cast<float>(tint.alphaF() * disabledOpacity));
    }
    painter.fillRect(image.rect(), tint);
    return image;
}

void SymbolIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) {
    const qreal ratio = DevicePixelRatio::of(*painter);
    const QSize pixels(static_cast<int>(std::ceil(rect.width() * ratio)), static_cast<int>(std::ceil(rect.height() * ratio)));
    QImage image = render(pixels, mode);
    image.setDevicePixelRatio(ratio);
    painter->drawImage(rect, image);
}

QPixmap SymbolIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) {
    return QPixmap::fromImage(render(size, mode));
}

QPixmap SymbolIconEngine::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) {
    // `size` is already in device pixels.
    QPixmap pixmap = QPixmap::fromImage(render(size, mode));
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

QIconEngine* SymbolIconEngine::clone() const {
    return new SymbolIconEngine(symbolName_, artworkPath_, tint_);
}

QString SymbolIconEngine::key() const {
    return QStringLiteral("kelto.symbol");
}

QString SymbolIconEngine::iconName() {
    return symbolName_;
}

bool SymbolIconEngine::isNull() {
    return !renderer_->isValid();
}

}  // namespace kelto
