#pragma once

#include <QRectF>
#include <QSizeF>

namespace kelto {

// Where the companion stands, in Qt's screen coordinates (y grows
// downwards).
struct CompanionLayout {
    // Beside the settings window, `gap` away: on its right when that fits
    // the visible frame, else on its left; top edges level; kept inside the
    // visible frame and no larger than it.
    static QRectF frame(const QRectF& beside, const QRectF& visibleFrame, const QSizeF& size, qreal gap);
    // Without the settings window: at the right edge of the main screen,
    // vertically centred.
    static QRectF fallback(const QRectF& visibleFrame, const QSizeF& size, qreal gap);
};

}  // namespace kelto
