#pragma once

#include "Platform/Desktop/DesktopWindows.h"

#include <QRectF>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace kelto {

// Finds the desktop's settings window and the screen it is on, in Qt's
// device-independent coordinates (origin at the top left of the primary
// screen, y growing downwards).
struct SettingsWindowGeometry {
    struct Geometry {
        QRectF frame;
        // The available area of the screen holding most of the window.
        QRectF visibleFrame;
        friend bool operator==(const Geometry&, const Geometry&) = default;
    };
    struct Screen {
        QRectF frame;
        QRectF visibleFrame;
    };

    // The largest listed window whose class names one of `programs`;
    // nothing where the desktop lists no windows or none is on screen.
    static std::optional<Geometry> current(const QStringList& programs);
    // The same for the windows `belongs` picks.
    static std::optional<Geometry> current(const std::function<bool(const DesktopWindows::Window&)>& belongs);

    // The largest rectangle; of equal ones, the earlier.
    static std::optional<QRectF> largestWindow(const std::vector<QRectF>& windows);
    // The screen overlapping the window most; of equal ones, the earlier.
    static std::optional<std::size_t> screenOf(const QRectF& window, const std::vector<Screen>& screens);
    static std::optional<Geometry> locate(const std::vector<QRectF>& windows, const std::vector<Screen>& screens);
    // The screens of the application, in Qt's order.
    static std::vector<Screen> screens();
};

}  // namespace kelto
