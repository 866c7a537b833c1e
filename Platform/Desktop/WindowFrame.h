#pragma once

#include <QMargins>

#include <optional>

class QWindow;

namespace kelto {

// The frame an X11 window manager has drawn around a window, read from the
// window itself (_NET_FRAME_EXTENTS), in device-independent pixels. Qt keeps
// its own copy and refreshes it only when the window is configured, so a
// frame that arrives after the window's last configure stays unknown to Qt
// for good. GUI thread only.
struct WindowFrame {
    // No margins while the window is not framed; nothing where the window
    // system cannot tell (not X11, no native window yet).
    static std::optional<QMargins> extents(const QWindow& window);
};

}  // namespace kelto
