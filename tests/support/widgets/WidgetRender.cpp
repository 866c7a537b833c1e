#include "tests/support/widgets/WidgetRender.h"

#include "FenraCore/FenraStyle.h"

#include <QDir>
#include <QLayout>
#include <QWidget>

#include <cmath>

namespace kelto {

QImage WidgetRender::image(QWidget& widget, qreal ratio) {
    widget.ensurePolished();
    if (QLayout* layout = widget.layout()) {
        layout->activate();
    }
    const QSize pixels(static_cast<int>(std::ceil(widget.width() * ratio)),
                       static_cast<int>(std::ceil(widget.height() * ratio)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QString WidgetRender::savePng(const QImage& image, const QString& name) {
    const QString folder = QStringLiteral(KELTO_RENDER_DIR);
    if (!QDir().mkpath(folder)) {
        return {};
    }
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    return image.save(path, "PNG") ? path : QString();
}

QColor WidgetRender::pixel(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

// The application's own palettes: renders show what the windows show.
QPalette WidgetRender::lightPalette() { return FenraStyle::palette(ColorScheme::light); }

QPalette WidgetRender::darkPalette() { return FenraStyle::palette(ColorScheme::dark); }

}  // namespace kelto
