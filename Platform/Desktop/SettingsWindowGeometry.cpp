#include "Platform/Desktop/SettingsWindowGeometry.h"

#include "Platform/Desktop/DesktopWindows.h"

#include <QGuiApplication>
#include <QScreen>

namespace kelto {

std::optional<SettingsWindowGeometry::Geometry> SettingsWindowGeometry::current(const QStringList& programs) {
    return current([&programs](const DesktopWindows::Window& window) { return window.belongsTo(programs); });
}

std::optional<SettingsWindowGeometry::Geometry> SettingsWindowGeometry::current(
    const std::function<bool(const DesktopWindows::Window&)>& belongs) {
    DesktopWindows& desktop = DesktopWindows::shared();
    if (!desktop.supported()) return std::nullopt;
    std::vector<QRectF> frames;
    for (const DesktopWindows::Window& window : desktop.windows()) {
        if (belongs(window)) frames.push_back(window.frame);
    }
    return locate(frames, screens());
}

std::optional<QRectF> SettingsWindowGeometry::largestWindow(const std::vector<QRectF>& windows) {
    std::optional<QRectF> largest;
    for (const QRectF& window : windows) {
        if (window.width() <= 0 || window.height() <= 0) continue;
        if (!largest || window.width() * window.height() > largest->width() * largest->height()) largest = window;
    }
    return largest;
}

std::optional<std::size_t> SettingsWindowGeometry::screenOf(const QRectF& window, const std::vector<Screen>& screens) {
    std::optional<std::size_t> best;
    qreal bestArea = -1;
    for (std::size_t i = 0; i < screens.size(); ++i) {
        const QRectF overlap = screens[i].frame.intersected(window);
        const qreal area = overlap.isEmpty() ? 0 : overlap.width() * overlap.height();
        if (area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    return best;
}

std::optional<SettingsWindowGeometry::Geometry> SettingsWindowGeometry::locate(const std::vector<QRectF>& windows,
                                                                                const std::vector<Screen>& screens) {
    const std::optional<QRectF> window = largestWindow(windows);
    if (!window) return std::nullopt;
    const std::optional<std::size_t> screen = screenOf(*window, screens);
    if (!screen) return std::nullopt;
    return Geometry{*window, screens[*screen].visibleFrame};
}

std::vector<SettingsWindowGeometry::Screen> SettingsWindowGeometry::screens() {
    std::vector<Screen> result;
    for (const QScreen* screen : QGuiApplication::screens()) {
        result.push_back({QRectF(screen->geometry()), QRectF(screen->availableGeometry())});
    }
    return result;
}

}  // namespace kelto
