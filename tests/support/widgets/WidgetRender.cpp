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

namespace {

// QPalette(button, window) derives the rest from the button colour, so every
// role a view reads is set here: buttons, fields and selections must read
// as they do on a light or a dark desktop.
QPalette look(QColor text, QColor window, QColor button, QColor base, QColor mid, QColor highlight) {
    QPalette palette(button, window);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Mid, mid);
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    QColor placeholder = text;
    placeholder.setAlpha(128);
    palette.setColor(QPalette::PlaceholderText, placeholder);
    return palette;
}

}  // namespace

QPalette WidgetRender::lightPalette() {
    return look(QColor(0, 0, 0), QColor(236, 236, 236), QColor(250, 250, 250), QColor(255, 255, 255),
                QColor(184, 184, 184), QColor(0, 122, 255));
}

QPalette WidgetRender::darkPalette() {
    return look(QColor(255, 255, 255), QColor(40, 40, 44), QColor(66, 66, 70), QColor(28, 28, 30),
                QColor(88, 88, 92), QColor(10, 132, 255));
}

}  // namespace kelto
