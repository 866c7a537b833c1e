#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QDialog;
class QWidget;

namespace kelto {

// Where the application's windows appear: no window is larger than the
// free area of its screen (what panels leave), a sheet or alert is centred
// on the window it belongs to and stays above it, and a popup opens beside
// what it was opened from without covering it. Window managers place a
// window by themselves only where it says nothing; these rules leave them
// nothing to decide.
struct WindowPlacement {
    // The free area of the screen showing `window`'s parent window, else the
    // screen it is on, else the primary screen.
    static QRect freeArea(const QWidget& window);

    // A frame of `size` (the frame, title bar included) centred on `over`
    // (the free area's centre when `over` is empty) and moved and shrunk
    // until it lies within `free`.
    static QRect centred(QSize size, const QRect& over, const QRect& free);
    // What the window manager adds around `window`'s client area: zero
    // until it has framed it. Read from the window system where it can tell
    // (Qt's copy can stay stale); else Qt's, taken as zero while it is that
    // of a window not yet sized (smaller than the client area).
    static QMargins frameOf(const QWidget& window);
    // `window` with that frame: where it stands on the screen.
    static QRect outerOf(const QWidget& window);
    // Moves `window` so that its frame, as `frameOf` tells it, starts at
    // `topLeft`.
    static void moveOuterTo(QWidget& window, QPoint topLeft);

    // A popup's frame beside `anchor`: below it where it fits there or where
    // the free area has more room below than above, else above; centred on
    // it across; as high as `size` asks up to the room on that side, never
    // over the anchor.
    static QRect beside(const QRect& anchor, QSize size, const QRect& free);
    // The room for a popup beside `anchor`: the height `beside` would allow.
    static int roomBeside(const QRect& anchor, const QRect& free);

    // Every show of `window` from now on places it: within the free area,
    // centred on its parent window when it has one (else on the free area),
    // again whenever the window manager gives it a new frame, and, with a
    // parent window, again as that window is placed or moved.
    static void follow(QWidget& window);

    // A sheet, an alert or a window of fixed size carries what a dialog
    // carries on the desktop: a dialog's type, its title and a close
    // button; no minimise or maximise button.
    static void keepAsDialog(QWidget& window);

    // Opens `sheet` window-modal over its parent window, placed by `follow`,
    // as a dialog (`keepAsDialog`).
    // A sheet opened before its window is on screen (in the same turn, as
    // the main window opens from a notification) would be stacked below it,
    // out of reach: it is shown again over its window once that is shown.
    // While it is open it keeps the keyboard: should the window system make
    // the window it blocks the active one (as when that window is restored
    // from a notification or the tray), the sheet is activated instead.
    static void openSheet(QDialog& sheet);
};

}  // namespace kelto
