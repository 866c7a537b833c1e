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
    // Nothing where the window system cannot tell: not X11, no native
    // window yet, or a window manager that does not set the property (one
    // that sets it does so once it frames the window).
    static std::optional<QMargins> extents(const QWindow& window);
};

}  // namespace kelto
