#include "KeltoDesign/internal/DropShadow.h"

#include "FenraCore/DevicePixelRatio.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kelto {
namespace {

// One pass of a box blur of the given half-width along rows or columns,
// treating everything outside the image as empty.
void boxPass(std::vector<float>& values, int width, int height, int half, bool alongRows) {
    const int length = alongRows ? width : height;
    const int lines = alongRows ? height : width;
    const float scale = 1.0F / static_cast<float>(2 * half + 1);
    std::vector<float> line(static_cast<std::size_t>(length));
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> float& {
            const int x = alongRows ? i : l;
            const int y = alongRows ? l : i;
            return values[static_cast<std::size_t>(y * width + x)];
        };
        for (int i = 0; i < length; ++i) {
            line[static_cast<std::size_t>(i)] = at(i);
        }
        float sum = 0;
        for (int i = 0; i <= std::min(half, length - 1); ++i) {
            sum += line[static_cast<std::size_t>(i)];
        }
        for (int i = 0; i < length; ++i) {
            at(i) = sum * scale;
            const int entering = i + half + 1;
            const int leaving = i - half;
            if (entering < length) {
                sum += line[static_cast<std::size_t>(entering)];
            }
            if (leaving >= 0) {
                sum -= line[static_cast<std::size_t>(leaving)];
            }
        }
    }
}

// Three box passes come close to a Gaussian of the deviation.
void blurAlpha(QImage& image, double deviation, const QColor& color) {
    const int width = image.width();
    const int height = image.height();
    std::vector<float> alpha(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            alpha[static_cast<std::size_t>(y * width + x)] = static_cast<float>(qAlpha(row[x])) / 255.0F;
        }
    }
    const int half = static_cast<int>(std::lround((std::sqrt(4 * deviation * deviation + 1) - 1) / 2));
    if (half > 0) {
        for (int pass = 0; pass < 3; ++pass) {
            boxPass(alpha, width, height, half, true);
            boxPass(alpha, width, height, half, false);
        }
    }
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double a = std::clamp(static_cast<double>(alpha[static_cast<std::size_t>(y * width + x)]), 0.0, 1.0);
            QColor shade = color;
            shade.setAlphaF(static_cast<float>(color.alphaF() * a));
            row[x] = qPremultiply(shade.rgba());
        }
    }
}

}  // namespace

QMarginsF DropShadow::reach() const {
    const double blur = 2 * radius;
    return QMarginsF(std::max(0.0, blur - offset.x()), std::max(0.0, blur - offset.y()), blur + std::max(0.0, offset.x()),
                     blur + std::max(0.0, offset.y()));
}

void DropShadow::paint(QPainter& painter, const QPainterPath& caster) const {
    paint(painter, caster.boundingRect(), [&caster](QPainter& layer) { layer.fillPath(caster, Qt::black); });
}

void DropShadow::paint(QPainter& painter, const QRectF& bounds, const std::function<void(QPainter&)>& draw) const {
    if (bounds.isEmpty() || color.alpha() == 0) {
        return;
    }
    // Device pixels per point of what is painted on, scaling included.
    const QTransform& world = painter.worldTransform();
    const double pixels = DevicePixelRatio::of(painter) * std::sqrt(std::abs(world.determinant()));
    if (!(pixels > 0)) {
        return;
    }
    const double blur = 2 * radius;
    const QRectF area = bounds.adjusted(-blur, -blur, blur, blur);
    QImage layer(static_cast<int>(std::ceil(area.width() * pixels)), static_cast<int>(std::ceil(area.height() * pixels)),
                 QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter caster(&layer);
        caster.setRenderHint(QPainter::Antialiasing);
        caster.scale(pixels, pixels);
        caster.translate(-area.topLeft());
        draw(caster);
    }
    blurAlpha(layer, radius / 2 * pixels, color);
    painter.drawImage(area.translated(offset), layer, QRectF(layer.rect()));
}

}  // namespace kelto
