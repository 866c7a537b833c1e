#include "FenraCore/DevicePixelRatio.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

namespace kelto {

double DevicePixelRatio::of(const QPainter& painter) {
    if (const QPaintEngine* engine = painter.paintEngine(); engine && engine->paintDevice()) {
        return engine->paintDevice()->devicePixelRatioF();
    }
    return painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
}

}  // namespace kelto
