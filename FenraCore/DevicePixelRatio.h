#pragma once

class QPainter;

namespace kelto {

// Device pixels per point of what a painter really paints on. While a widget
// is rendered into an image, `QPainter::device()` still names the widget; the
// paint engine knows the image.
struct DevicePixelRatio {
    static double of(const QPainter& painter);
};

}  // namespace kelto
