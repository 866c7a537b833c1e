#include "tests/support/widgets/WidgetRender.h"

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

QPalette WidgetRender::lightPalette() {
    QPalette palette(QColor(0, 0, 0), QColor(236, 236, 236));
    palette.setColor(QPalette::Text, QColor(0, 0, 0));
    palette.setColor(QPalette::Base, QColor(255, 255, 255));
    palette.setColor(QPalette::Mid, QColor(184, 184, 184));
    return palette;
}

QPalette WidgetRender::darkPalette() {
    QPalette palette(QColor(255, 255, 255), QColor(40, 40, 44));
    palette.setColor(QPalette::Text, QColor(255, 255, 255));
    palette.setColor(QPalette::Base, QColor(28, 28, 30));
    palette.setColor(QPalette::Mid, QColor(88, 88, 92));
    return palette;
}

}  // namespace kelto
