#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace kelto {

// Renders widgets into images.
struct WidgetRender {
    // The widget and its children at the ratio, on a transparent background, once its layout has settled.
    static QImage image(QWidget& widget, qreal ratio = 1);
    // Handles what showing and changing the widget posted, and lays it out again, until nothing moves any more.
    static void settle(QWidget& widget);
    // The colour at a device pixel, straight (not premultiplied) alpha.
    static QColor pixel(const QImage& image, int x, int y) { return image.pixelColor(x, y); }
    // The painted pixels of an image, and those whose colour is not the tint.
    struct Coverage {
        int painted = 0, offTint = 0;
    };
    static Coverage coverage(const QImage& image, const QColor& tint);
    // The application's light and dark palettes.
    static QPalette lightPalette();
    static QPalette darkPalette();
    // Buttons in the window's colour, as a desktop draws them; disabled text dimmed towards the window.
    static QPalette withWindowButtons(QPalette palette);

    // Where two trees of widgets made alike differ in the colours their
    // palettes give: one made in a look and switched to another while
    // shown, one made in that other look. A line per difference.
    static QStringList colourDifferences(const QWidget& switched, const QWidget& made);
    // The differences after the application switches from light to dark
    // and from dark to light, each between a widget `make` gave in the
    // first look and one it gives in the second. The application's palette
    // is put back.
    static QStringList lookSwitchDifferences(const std::function<std::unique_ptr<QWidget>()>& make);

    // The light and the dark look.
    struct Look {
        const char* name;
        QPalette palette;
    };
    static std::vector<Look> looks() { return {{"light", lightPalette()}, {"dark", darkPalette()}}; }
};

}  // namespace kelto
