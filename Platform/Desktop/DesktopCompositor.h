#pragma once

namespace kelto {

// Whether the desktop composites windows, so that the clear pixels of a
// window show what lies under it: on X11 while a compositing manager holds
// the screen's _NET_WM_CM_S<n> selection, on Wayland always, elsewhere (the
// offscreen platform) never. Asked afresh at each call; GUI thread only.
struct DesktopCompositor {
    static bool active();
};

}  // namespace kelto
