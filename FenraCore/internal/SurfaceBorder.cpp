#include "FenraCore/internal/SurfaceBorder.h"

#include "FenraCore/FenraChrome.h"
#include "FenraCore/FenraSurfaceFrame.h"
#include "FenraCore/DevicePixelRatio.h"

#include <QPainter>

namespace kelto {

SurfaceBorder::SurfaceBorder(FenraSurfaceFrame& frame) : QWidget(&frame), frame_(frame) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void SurfaceBorder::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // One device pixel of whatever is painted on: the screen, or an image
    // of another ratio when the widget is rendered.
    const double width = 1.0 / DevicePixelRatio::of(painter);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(frame_.shape().path(rect(), width / 2), QPen(FenraChrome::separator(palette()), width));
}

}  // namespace kelto
