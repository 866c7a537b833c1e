#include "Platform/Desktop/WindowFrame.h"

#include <QGuiApplication>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <cmath>

// Xlib defines macros (None, Bool, Status…) that clash with Qt: last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace kelto {

std::optional<QMargins> WindowFrame::extents(const QWindow& window) {
    if (qGuiApp == nullptr || QGuiApplication::platformName() != QLatin1String("xcb")) return std::nullopt;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 != nullptr ? x11->display() : nullptr;
    if (display == nullptr || window.handle() == nullptr) return std::nullopt;
    const Atom property = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, static_cast<::Window>(window.winId()), property, 0, 4, False, XA_CARDINAL, &type,
                           &format, &count, &remaining, &data) != Success) {
        return std::nullopt;
    }
    // A window manager that does not say what it draws: Qt's reading stands.
    if (type == 0) {
        if (data != nullptr) XFree(data);
        return std::nullopt;
    }
    QMargins margins;
    if (type == XA_CARDINAL && format == 32 && count == 4) {
        // Left, right, top, bottom, in the screen's pixels; Xlib hands
        // 32-bit items over as longs.
        const auto* values = reinterpret_cast<const long*>(data);
        const qreal ratio = window.devicePixelRatio();
        const auto scaled = [ratio](long value) { return static_cast<int>(std::lround(value / ratio)); };
        margins = QMargins(scaled(values[0]), scaled(values[2]), scaled(values[1]), scaled(values[3]));
    }
    if (data != nullptr) XFree(data);
    return margins;
}

}  // namespace kelto
